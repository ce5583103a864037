#include "script/RunCounts.h"

#include <algorithm>

void RunCounts::Add(const ScriptStep& step, Outcome outcome, qint64 count)
{
    if (outcome == Outcome::Skipped) {
        skipped += count;
        return;
    }
    ran += count;
    if (step.IsTest()) {
        checks += count;
        (outcome == Outcome::Passed ? passed : failed) += count;
    } else if (outcome == Outcome::Failed) {
        otherFailed += count;
    }
}

void RunCounts::Add(const RunCounts& other)
{
    ran += other.ran;
    checks += other.checks;
    passed += other.passed;
    failed += other.failed;
    otherFailed += other.otherFailed;
    skipped += other.skipped;
}

QString FormatRunCounts(const RunCounts& counts)
{
    QString text =
        QStringLiteral("%1 %2 ran, %3 of them %4: %5 passed, %6 failed")
            .arg(counts.ran)
            .arg(counts.ran == 1 ? QStringLiteral("step") : QStringLiteral("steps"))
            .arg(counts.checks)
            .arg(counts.checks == 1 ? QStringLiteral("a check") : QStringLiteral("checks"))
            .arg(counts.passed)
            .arg(counts.failed);
    if (counts.otherFailed > 0)
        text +=
            QStringLiteral("; %1 other %2 failed")
                .arg(counts.otherFailed)
                .arg(counts.otherFailed == 1 ? QStringLiteral("step") : QStringLiteral("steps"));
    if (counts.skipped > 0)
        text += QStringLiteral("; %1 skipped").arg(counts.skipped);
    if (counts.NothingChecked())
        text += QStringLiteral("; nothing was checked");
    return text;
}

int RunExitStatus(const RunCounts& counts, RunEnd end, int signal)
{
    if (end == RunEnd::Interrupted)
        return 128 + signal;
    if (end == RunEnd::PortLost)
        return kExitError;
    if (counts.AnyFailed() || end == RunEnd::FailedFast)
        return kExitFailed;
    return counts.NothingChecked() ? kExitError : kExitPassed;
}

int WorstExitStatus(int a, int b)
{
    // The statuses are ranked by their numbers: 0, 1, 2, then 128 + a signal.
    return std::max(a, b);
}
