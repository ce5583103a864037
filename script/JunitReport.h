#pragma once

#include "script/Script.h"
#include "script/ScriptRunner.h"

#include <QByteArray>
#include <QString>

#include <vector>

// One run of one script, as the JUnit report shows it: a test suite.
struct SuiteRun
{
    QString name; // the script's path, with the round for repeated runs
    const Script* script = nullptr;
    std::vector<StepResult> results; // one per step of the script
    double seconds = 0;
};

// JUnit XML as CI systems read it: a test suite per script run, a test case per expect,
// expect-none or screen step (and per other step that failed, as an error), with its time; a
// failure carries the reason, the expected pattern and the reports seen; steps not run are
// skipped.
QByteArray JunitXml(const std::vector<SuiteRun>& runs);
