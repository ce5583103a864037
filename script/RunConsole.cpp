#include "script/RunConsole.h"

#include "script/BatchRun.h"
#include "script/PortRun.h"

namespace {

QString StepLine(const Script& script, const ScriptStep& step, const StepResult& result)
{
    const QString where = QStringLiteral("%1:%2").arg(script.path).arg(step.line);
    const QString source = script.Source(step);
    switch (result.state) {
    case StepResult::State::Passed:
        if (result.latencyMs >= 0)
            return QStringLiteral("ok   %1  %2  %3 ms")
                .arg(where, source)
                .arg(result.latencyMs, 0, 'f', 1);
        return QStringLiteral("ok   %1  %2").arg(where, source);
    case StepResult::State::Failed:
        return QStringLiteral("FAIL %1  %2: %3").arg(where, source, result.reason);
    default:
        return QStringLiteral("skip %1  %2: %3").arg(where, source, result.reason);
    }
}

} // namespace

void RunConsole::Print(const PortRun& port, const QString& line) const
{
    // Lines of several ports come interleaved; the port first, so that one port's lines are
    // found (and sorted) by it.
    m_out(port.IsOneOfSeveral() ? port.Label() + QStringLiteral("  ") + line : line);
}

void RunConsole::SuiteStarted(const PortRun& port, const SuiteRun& suite)
{
    if (port.Scripts().size() > 1 || port.Settings().rounds > 1)
        Print(port, QStringLiteral("== %1").arg(suite.name));
}

void RunConsole::Prompted(const PortRun& port, const SuiteRun& suite, int index, int waitMs)
{
    const Script& script = suite.script;
    const ScriptStep& step = script.steps[static_cast<std::size_t>(index)];
    Print(port, QStringLiteral("do   %1:%2  %3  (by hand on the module; going on in %4 ms)")
                    .arg(script.path)
                    .arg(step.line)
                    .arg(script.Source(step))
                    .arg(waitMs));
}

void RunConsole::StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                              const StepResult& result)
{
    const Script& script = suite.script;
    Print(port, StepLine(script, script.steps[static_cast<std::size_t>(index)], result));
    if (result.state != StepResult::State::Failed)
        return;
    if (result.reportsSeen.empty()) {
        Print(port, QStringLiteral("     no reports seen"));
        return;
    }
    Print(port, QStringLiteral("     last %1 reports seen:").arg(result.reportsSeen.size()));
    for (const QByteArray& report : result.reportsSeen)
        Print(port, QStringLiteral("       %1").arg(QString::fromUtf8(report)));
}

void RunConsole::StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                              const QString& reason)
{
    StepResult skipped;
    skipped.state = StepResult::State::Skipped;
    skipped.reason = reason;
    const Script& script = suite.script;
    for (int i = first; i < first + count; ++i)
        Print(port, StepLine(script, script.steps[static_cast<std::size_t>(i)], skipped));
}

void RunConsole::RunFinished(const BatchRun& run)
{
    const RunCounts counts = run.Counts();
    m_out(FormatRunCounts(counts));
    if (run.ExitStatus() == kExitError && run.End() == RunEnd::Completed && counts.NothingChecked())
        m_error(QStringLiteral("nothing was checked: no expect, expect-none or screen step ran, "
                               "so the run shows no pass"));
}
