#include "results/LatencyStats.h"

#include <QHash>

#include <algorithm>
#include <cmath>

double Quantile(const std::vector<double>& ascending, double p)
{
    if (ascending.empty())
        return 0;
    const double h = static_cast<double>(ascending.size() - 1) * std::clamp(p, 0.0, 1.0);
    const auto below = static_cast<std::size_t>(std::floor(h));
    if (below + 1 >= ascending.size())
        return ascending.back();
    const double fraction = h - static_cast<double>(below);
    return ascending[below] + fraction * (ascending[below + 1] - ascending[below]);
}

LatencySummary SummarizeLatencies(std::vector<double> samples)
{
    LatencySummary summary;
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    summary.count = static_cast<int>(samples.size());
    summary.min = samples.front();
    summary.max = samples.back();
    summary.p50 = Quantile(samples, 0.50);
    summary.p95 = Quantile(samples, 0.95);
    return summary;
}

StepStatus StepSummary::Overall() const
{
    if (failed > 0)
        return StepStatus::Failed;
    return passed > 0 ? StepStatus::Passed : StepStatus::Skipped;
}

std::vector<StepSummary> SummarizeSteps(const RunResults& results)
{
    std::vector<StepSummary> steps;
    std::size_t total = 0;
    for (const ScriptInfo& script : results.scripts)
        total += script.steps.size();
    steps.reserve(total);
    // Where each script's steps start in `steps`; a script's steps are in line order there.
    QHash<QString, std::size_t> first;
    for (const ScriptInfo& script : results.scripts) {
        if (first.contains(script.path))
            continue;
        first.insert(script.path, steps.size());
        for (const StepInfo& step : script.steps)
            steps.push_back(StepSummary{script.path, step, 0, 0, 0, {}});
    }
    for (const ScriptRun& run : results.runs) {
        const auto found = first.constFind(run.script);
        const ScriptInfo* script = FindScript(results, run.script);
        if (found == first.constEnd() || !script)
            continue;
        for (const StepRun& stepRun : run.steps) {
            const StepInfo* step = FindStep(*script, stepRun.line);
            if (!step)
                continue;
            StepSummary& summary =
                steps[*found + static_cast<std::size_t>(step - &script->steps[0])];
            switch (stepRun.status) {
            case StepStatus::Passed:
                ++summary.passed;
                if (stepRun.latencyMs >= 0)
                    summary.latencies.push_back(stepRun.latencyMs);
                break;
            case StepStatus::Failed:
                ++summary.failed;
                break;
            case StepStatus::Skipped:
                ++summary.skipped;
                break;
            }
        }
    }
    return steps;
}

QString FormatMs(double ms)
{
    return QString::number(ms, 'f', 1);
}

QStringList LatencyTable(const std::vector<StepSummary>& steps)
{
    QStringList lines;
    for (const StepSummary& summary : steps) {
        if (summary.step.kind != u"expect")
            continue;
        if (lines.isEmpty())
            lines << QStringLiteral(
                "latency (ms)  count      min      p50      p95      max  step");
        const LatencySummary l = SummarizeLatencies(summary.latencies);
        const auto cell = [&](double ms) {
            return (l.count > 0 ? FormatMs(ms) : QStringLiteral("-")).rightJustified(9);
        };
        // One arg() for all: a second pass would also fill a "%8" written in a script's name.
        lines << QStringLiteral("%1%2%3%4%5  %6:%7  %8")
                     .arg(QString::number(l.count).rightJustified(19), cell(l.min), cell(l.p50),
                          cell(l.p95), cell(l.max), summary.script,
                          QString::number(summary.step.line), summary.step.source);
    }
    return lines;
}
