#pragma once

#include "scriptformat/Script.h"

#include <QString>

// What a run did, as its summary tells it. Steps that merely sent or waited are no checks, so a
// run is told by both: how many steps ran, and how many of those checked something.
struct RunCounts
{
    qint64 ran = 0;         // steps that ran to a pass or a failure
    qint64 checks = 0;      // of those, expect, expect-none and screen steps
    qint64 passed = 0;      // checks that passed
    qint64 failed = 0;      // checks that failed
    qint64 otherFailed = 0; // other steps that failed: a send the port did not take, ...
    qint64 skipped = 0;     // steps not run, or left to a person

    enum class Outcome
    {
        Passed,
        Failed,
        Skipped,
    };
    void Add(const ScriptStep& step, Outcome outcome, qint64 count = 1);
    void Add(const RunCounts& other);

    // Nothing was checked: however the steps went, the run showed nothing about the module.
    bool NothingChecked() const { return checks == 0; }
    bool AnyFailed() const { return failed + otherFailed > 0; }
};

// "52 steps ran, 19 of them checks: 19 passed, 0 failed", then what else there is to tell:
// "; 1 other step failed", "; 3 skipped", "; nothing was checked".
QString FormatRunCounts(const RunCounts& counts);

// How orvexa-run ends.
enum class RunEnd
{
    Completed,   // every script ran
    FailedFast,  // --fail-fast ended it at a failed step, on its own port or another
    PortLost,    // the port went away
    Interrupted, // a signal
};
inline constexpr int kExitPassed = 0, kExitFailed = 1, kExitError = 2;
// 0 when checks ran and nothing failed; 1 when a step failed, or fail-fast ended the run; 2 when
// the port was lost or nothing at all was checked, since a run that checked nothing shows no
// pass; 128 + the signal after a signal. A port that another port's failure stopped early may
// have checked nothing: it ends as failed, as the run does, not as an error of its own.
int RunExitStatus(const RunCounts& counts, RunEnd end, int signal = 0);
// Of several ports' exit statuses, the one the run ends with: a signal, then an error, then a
// failure, then a pass.
int WorstExitStatus(int a, int b);
