#pragma once

#include "script/RunCounts.h"
#include "script/ScriptRunner.h"
#include "scriptformat/Script.h"

#include <QString>

#include <cstddef>

class BatchRun;
class PortRun;

// One run of one script on one port: a suite of the JUnit file.
struct SuiteRun
{
    const Script& script;
    std::size_t scriptIndex = 0; // among the run's scripts
    int round = 1;               // of a repeated run, from 1
    QString name;                // SuiteName()
};

// A suite's name: the script's path as given; "PATH (run N)" when the scripts run more than once;
// "PATH on PORT" when they run on several ports at once, as each port runs them all.
QString SuiteName(const QString& scriptPath, int round, int rounds, const QString& port = {});

// Where a run tells what happens, as it happens: the console's lines, the JUnit file. The calls
// of several ports come interleaved, each naming its port. Nothing here is kept by the run, so a
// sink that wants a step's result after the call keeps its own copy.
class RunSink
{
public:
    virtual ~RunSink() = default;

    virtual void SuiteStarted(const PortRun& /*port*/, const SuiteRun& /*suite*/) {}
    virtual void StepStarted(const PortRun& /*port*/, const SuiteRun& /*suite*/, int /*index*/) {}
    // A send step's bytes, handed to the port whole.
    virtual void Sent(const PortRun& /*port*/, const SuiteRun& /*suite*/,
                      const QByteArray& /*bytes*/)
    {}
    // A report line decoded from the port; also between suites, when no suite is under way.
    virtual void ReportReceived(const PortRun& /*port*/, const QByteArray& /*line*/) {}
    // A virtual-only step on a real module, left to a person for `waitMs`.
    virtual void Prompted(const PortRun& /*port*/, const SuiteRun& /*suite*/, int /*index*/,
                          int /*waitMs*/)
    {}
    virtual void StepFinished(const PortRun& /*port*/, const SuiteRun& /*suite*/, int /*index*/,
                              const StepResult& /*result*/)
    {}
    // `count` steps from `first` on were not run, at the end of the suite.
    virtual void StepsSkipped(const PortRun& /*port*/, const SuiteRun& /*suite*/, int /*first*/,
                              int /*count*/, const QString& /*reason*/)
    {}
    // `counts` are the suite's own.
    virtual void SuiteFinished(const PortRun& /*port*/, const SuiteRun& /*suite*/,
                               ScriptRunner::Outcome /*outcome*/, const RunCounts& /*counts*/,
                               double /*seconds*/)
    {}
    // A suite of the last round that the port's run ended before: every step of it skipped for
    // `reason`. Later rounds are not listed.
    virtual void SuiteNotRun(const PortRun& /*port*/, const SuiteRun& /*suite*/,
                             const QString& /*reason*/)
    {}
    // The port's run is over and its port closed; its counts and exit status are final.
    virtual void PortFinished(const PortRun& /*port*/) {}
    // Every port's run is over.
    virtual void RunFinished(const BatchRun& /*run*/) {}
};
