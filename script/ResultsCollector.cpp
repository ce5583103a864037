#include "script/ResultsCollector.h"

#include "results/HtmlReport.h"
#include "results/LatencyStats.h"
#include "results/ResultsFile.h"
#include "script/PortRun.h"
#include "script/RunCounts.h"
#include "support/FileReplace.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

using Kind = ScriptStep::Kind;

QString StepKindName(Kind kind)
{
    switch (kind) {
    case Kind::Send:
        return QStringLiteral("send");
    case Kind::SendHex:
        return QStringLiteral("sendhex");
    case Kind::Expect:
        return QStringLiteral("expect");
    case Kind::ExpectNone:
        return QStringLiteral("expect-none");
    case Kind::Wait:
        return QStringLiteral("wait");
    case Kind::Touch:
        return QStringLiteral("touch");
    case Kind::Press:
        return QStringLiteral("press");
    case Kind::Move:
        return QStringLiteral("move");
    case Kind::Release:
        return QStringLiteral("release");
    case Kind::Key:
        return QStringLiteral("key");
    case Kind::Event:
        return QStringLiteral("event");
    case Kind::Screen:
        return QStringLiteral("screen");
    }
    return {};
}

namespace {

StepStatus StatusOf(StepResult::State state)
{
    return state == StepResult::State::Passed   ? StepStatus::Passed
           : state == StepResult::State::Failed ? StepStatus::Failed
                                                : StepStatus::Skipped;
}

// The results file names pictures relative to its own folder; the model holds them absolute.
QString Absolute(const QString& path)
{
    return path.isEmpty() ? path : QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

} // namespace

ResultsCollector::ResultsCollector()
{
    m_clock.start();
    m_results.started = QDateTime::currentDateTimeUtc();
}

double ResultsCollector::Now() const
{
    return static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
}

void ResultsCollector::AddScript(const Script& script)
{
    if (FindScript(m_results, script.path))
        return;
    ScriptInfo info;
    info.path = script.path;
    info.sha256 = ScriptDigest(script.text);
    info.steps.reserve(script.steps.size());
    for (const ScriptStep& step : script.steps)
        info.steps.push_back({step.line, StepKindName(step.kind), script.Source(step)});
    m_results.scripts.push_back(std::move(info));
}

ScriptRun* ResultsCollector::RunOf(const QString& port)
{
    const auto found = m_running.find(port);
    return found == m_running.end() ? nullptr : &m_results.runs[found->second.run];
}

void ResultsCollector::ScriptStarted(const QString& port, const Script& script, int round)
{
    AddScript(script);
    ScriptRun run;
    run.port = port;
    run.script = script.path;
    run.repeat = round;
    run.startMs = Now();
    run.endMs = run.startMs;
    m_results.runs.push_back(std::move(run));
    m_running[port] = {&script, m_results.runs.size() - 1, -1};
}

void ResultsCollector::StepStarted(const QString& port, int index)
{
    const auto found = m_running.find(port);
    if (found == m_running.end())
        return;
    found->second.step = index;
    const ScriptStep& step = found->second.script->steps[static_cast<std::size_t>(index)];
    m_results.runs[found->second.run].transcript.push_back(
        {Now(), TranscriptEntry::Kind::StepStart, step.line, {}});
}

void ResultsCollector::Sent(const QString& port, const QByteArray& bytes)
{
    const auto found = m_running.find(port);
    if (found == m_running.end())
        return;
    const Running& running = found->second;
    // A statement as the script wrote it, not as the code page bytes it went out as; raw bytes
    // stay bytes.
    QByteArray text = bytes;
    if (running.step >= 0) {
        const ScriptStep& step = running.script->steps[static_cast<std::size_t>(running.step)];
        if (step.kind == Kind::Send)
            text = running.script->Statement(step).toUtf8();
    }
    m_results.runs[running.run].transcript.push_back(
        {Now(), TranscriptEntry::Kind::Sent, 0, std::move(text)});
}

void ResultsCollector::ReportReceived(const QString& port, const QByteArray& line)
{
    // Reports between scripts belong to no script run, and nothing waits for them.
    if (ScriptRun* run = RunOf(port))
        run->transcript.push_back({Now(), TranscriptEntry::Kind::Report, 0, line});
}

void ResultsCollector::StepFinished(const QString& port, int index, const StepResult& result)
{
    const auto found = m_running.find(port);
    if (found == m_running.end())
        return;
    found->second.step = -1;
    const ScriptStep& step = found->second.script->steps[static_cast<std::size_t>(index)];
    ScriptRun& run = m_results.runs[found->second.run];
    StepRun stepRun;
    stepRun.line = step.line;
    stepRun.status = StatusOf(result.state);
    stepRun.endMs = Now();
    stepRun.startMs = std::max(run.startMs, stepRun.endMs - result.elapsedMs);
    stepRun.latencyMs = result.state == StepResult::State::Passed ? result.latencyMs : -1;
    stepRun.reason = result.reason;
    stepRun.reportsSeen = result.reportsSeen;
    stepRun.pictures = {Absolute(result.referencePicture), Absolute(result.actualPicture),
                        Absolute(result.differencePicture)};
    run.steps.push_back(std::move(stepRun));
    run.transcript.push_back(
        {run.steps.back().endMs, TranscriptEntry::Kind::StepEnd, step.line, {}});
}

void ResultsCollector::StepsSkipped(const QString& port, int first, int count,
                                    const QString& reason)
{
    const auto found = m_running.find(port);
    if (found == m_running.end())
        return;
    ScriptRun& run = m_results.runs[found->second.run];
    const double now = Now();
    // A run stopped early skips what is left of its script at once: one allocation, not one
    // doubling after another while a window waits on it.
    run.steps.reserve(run.steps.size() + static_cast<std::size_t>(std::max(count, 0)));
    for (int i = first; i < first + count; ++i) {
        StepRun skipped;
        skipped.line = found->second.script->steps[static_cast<std::size_t>(i)].line;
        skipped.startMs = skipped.endMs = now;
        skipped.reason = reason;
        run.steps.push_back(std::move(skipped));
    }
}

void ResultsCollector::ScriptFinished(const QString& port)
{
    if (ScriptRun* run = RunOf(port))
        run->endMs = Now();
    m_running.erase(port);
}

void ResultsCollector::ScriptNotRun(const QString& port, const Script& script, int round,
                                    const QString& reason)
{
    ScriptStarted(port, script, round);
    StepsSkipped(port, 0, static_cast<int>(script.steps.size()), reason);
    ScriptFinished(port);
}

void ResultsSink::SuiteStarted(const PortRun& port, const SuiteRun& suite)
{
    if (m_keep)
        m_collector.ScriptStarted(port.Label(), suite.script, suite.round);
}

void ResultsSink::StepStarted(const PortRun& port, const SuiteRun& /*suite*/, int index)
{
    if (m_keep)
        m_collector.StepStarted(port.Label(), index);
}

void ResultsSink::Sent(const PortRun& port, const SuiteRun& /*suite*/, const QByteArray& bytes)
{
    if (m_keep)
        m_collector.Sent(port.Label(), bytes);
}

void ResultsSink::ReportReceived(const PortRun& port, const QByteArray& line)
{
    if (m_keep)
        m_collector.ReportReceived(port.Label(), line);
}

void ResultsSink::StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                               const StepResult& result)
{
    if (m_keep)
        m_collector.StepFinished(port.Label(), index, result);
    const ScriptStep& step = suite.script.steps[static_cast<std::size_t>(index)];
    if (step.kind != Kind::Expect)
        return;
    StepSummary& summary = m_expects[{suite.scriptIndex, step.line}];
    if (summary.step.line == 0) {
        summary.script = suite.script.path;
        summary.step = {step.line, StepKindName(step.kind), suite.script.Source(step)};
    }
    if (result.state == StepResult::State::Passed) {
        ++summary.passed;
        summary.latencies.push_back(result.latencyMs);
    } else {
        ++(result.state == StepResult::State::Failed ? summary.failed : summary.skipped);
    }
}

void ResultsSink::StepsSkipped(const PortRun& port, const SuiteRun& /*suite*/, int first, int count,
                               const QString& reason)
{
    if (m_keep)
        m_collector.StepsSkipped(port.Label(), first, count, reason);
}

void ResultsSink::SuiteFinished(const PortRun& port, const SuiteRun& /*suite*/,
                                ScriptRunner::Outcome /*outcome*/, const RunCounts& /*counts*/,
                                double /*seconds*/)
{
    if (m_keep)
        m_collector.ScriptFinished(port.Label());
}

void ResultsSink::SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason)
{
    if (m_keep)
        m_collector.ScriptNotRun(port.Label(), suite.script, suite.round, reason);
}

void ResultsSink::RunFinished(const BatchRun& /*run*/)
{
    std::vector<StepSummary> expects;
    expects.reserve(m_expects.size());
    for (auto& [key, summary] : m_expects)
        expects.push_back(std::move(summary));
    m_expects.clear();
    for (const QString& line : LatencyTable(expects))
        m_out(line);
}

int FinishResults(const RunResults& results, const ResultsOutputs& outputs, int exitStatus,
                  const ResultsSink::Printer& out, const ResultsSink::Printer& error)
{
    int status = exitStatus;
    if (outputs.baseline) {
        const BaselineComparison comparison =
            CompareWithBaseline(*outputs.baseline, results, outputs.compare);
        for (const QString& line : BaselineTable(comparison))
            out(line);
        if (outputs.failOnSlower && comparison.AnySlower()) {
            error(QStringLiteral("%1 steps got slower than in the baseline (--fail-on-slower)")
                      .arg(comparison.Count(StepComparison::Latency::Slower)));
            status = WorstExitStatus(status, kExitFailed);
        }
    }
    QString fault;
    if (!outputs.results.isEmpty() && !SaveResults(outputs.results, results, fault)) {
        error(fault);
        status = WorstExitStatus(status, kExitError);
    }
    if (!outputs.report.isEmpty() &&
        !ReplaceFileWhole(outputs.report, ReportHtml(results, outputs.baseline, outputs.compare),
                          &fault)) {
        error(QStringLiteral("cannot write the report \"%1\": %2").arg(outputs.report, fault));
        status = WorstExitStatus(status, kExitError);
    }
    return status;
}
