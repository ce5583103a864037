#pragma once

#include "results/Baseline.h"
#include "results/LatencyStats.h"
#include "results/RunResults.h"
#include "script/RunSink.h"
#include "script/ScriptRunner.h"
#include "scriptformat/Script.h"

#include <QElapsedTimer>
#include <QString>

#include <cstddef>
#include <functional>
#include <map>
#include <utility>

// Fills a RunResults as a run goes, from what a runner tells: the console's Run Script window
// calls it from its runner's signals, ResultsSink from a batch run's. Ports are told apart by
// their label; each port runs one script at a time. Times count from the collector's making.
class ResultsCollector
{
public:
    ResultsCollector();

    void ScriptStarted(const QString& port, const Script& script, int round);
    void StepStarted(const QString& port, int index);
    void Sent(const QString& port, const QByteArray& bytes);
    void ReportReceived(const QString& port, const QByteArray& line);
    void StepFinished(const QString& port, int index, const StepResult& result);
    void StepsSkipped(const QString& port, int first, int count, const QString& reason);
    void ScriptFinished(const QString& port);
    // A script the run ended before: every step skipped for `reason`.
    void ScriptNotRun(const QString& port, const Script& script, int round, const QString& reason);

    const RunResults& Results() const { return m_results; }

private:
    struct Running
    {
        const Script* script = nullptr;
        std::size_t run = 0; // index into m_results.runs
        int step = -1;       // the step under way
    };

    double Now() const;
    ScriptRun* RunOf(const QString& port);
    void AddScript(const Script& script);

    RunResults m_results;
    QElapsedTimer m_clock;
    std::map<QString, Running> m_running;
};

// "send", "expect-none", "screen": a step's keyword.
QString StepKindName(ScriptStep::Kind kind);

// A run's results as a sink of a batch run. At its end it prints the latency table: count, min,
// p50, p95 and max per expect step over every port and round. The whole model (Results()) is kept
// only when `keep` is set; otherwise a run of millions of steps costs no memory per step beyond
// its expects' latencies.
class ResultsSink : public RunSink
{
public:
    using Printer = std::function<void(const QString& line)>;

    ResultsSink(Printer out, bool keep) : m_out(std::move(out)), m_keep(keep) {}

    void SuiteStarted(const PortRun& port, const SuiteRun& suite) override;
    void StepStarted(const PortRun& port, const SuiteRun& suite, int index) override;
    void Sent(const PortRun& port, const SuiteRun& suite, const QByteArray& bytes) override;
    void ReportReceived(const PortRun& port, const QByteArray& line) override;
    void StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                      const StepResult& result) override;
    void StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                      const QString& reason) override;
    void SuiteFinished(const PortRun& port, const SuiteRun& suite, ScriptRunner::Outcome outcome,
                       const RunCounts& counts, double seconds) override;
    void SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason) override;
    void RunFinished(const BatchRun& run) override;

    const RunResults& Results() const { return m_collector.Results(); }

private:
    Printer m_out;
    bool m_keep;
    ResultsCollector m_collector;
    // Each expect step's runs, by script and line.
    std::map<std::pair<std::size_t, int>, StepSummary> m_expects;
};

// What a run leaves besides its lines and its JUnit file.
struct ResultsOutputs
{
    QString results; // the results file; empty: none
    QString report;  // the HTML report; empty: none
    const RunResults* baseline = nullptr;
    BaselineOptions compare;
    bool failOnSlower = false; // a step slower than in the baseline fails the run
};

// At the end of a run: prints the changes since the baseline, writes the results file and the
// report (each whole, or the old file left as it was), and returns the run's exit status given
// `exitStatus`: failed when a step got slower under failOnSlower, an error when a file could not
// be written, and never better than it was.
int FinishResults(const RunResults& results, const ResultsOutputs& outputs, int exitStatus,
                  const ResultsSink::Printer& out, const ResultsSink::Printer& error);
