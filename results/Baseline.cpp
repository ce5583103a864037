#include "results/Baseline.h"

#include <QHash>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

using Match = StepComparison::Match;
using Latency = StepComparison::Latency;
using Status = StepComparison::Status;

// Ways to pick `size` of the scores with a sum of each value, by a knapsack count over the
// scores; doubles, since the counts pass 2^64 near 40 samples and only their ratio is wanted.
std::vector<double> SumCounts(const std::vector<int>& scores, std::size_t size, int& most)
{
    std::vector<int> largest = scores;
    std::sort(largest.rbegin(), largest.rend());
    most = 0;
    for (std::size_t i = 0; i < size; ++i)
        most += largest[i];
    const std::size_t width = static_cast<std::size_t>(most) + 1;
    std::vector<double> ways((size + 1) * width, 0.0);
    ways[0] = 1;
    std::size_t seen = 0;
    for (const int score : scores) {
        ++seen;
        for (std::size_t k = std::min(seen, size); k >= 1; --k)
            for (int sum = most; sum >= score; --sum)
                ways[k * width + static_cast<std::size_t>(sum)] +=
                    ways[(k - 1) * width + static_cast<std::size_t>(sum - score)];
    }
    return std::vector<double>(ways.begin() + static_cast<std::ptrdiff_t>(size * width),
                               ways.end());
}

} // namespace

double ShiftPValue(const std::vector<double>& before, const std::vector<double>& after)
{
    const std::size_t n1 = before.size(), n2 = after.size(), n = n1 + n2;
    if (n1 == 0 || n2 == 0)
        return 1;
    struct Value
    {
        double ms;
        bool after;
    };
    std::vector<Value> all;
    all.reserve(n);
    for (const double ms : before)
        all.push_back({ms, false});
    for (const double ms : after)
        all.push_back({ms, true});
    std::sort(all.begin(), all.end(), [](const Value& a, const Value& b) { return a.ms < b.ms; });

    // Twice the mean rank, an integer: positions i to j (from 1) share (i + j) / 2.
    std::vector<int> scores(n);
    int observed = 0; // twice the rank sum of `after`
    double ties = 0;  // the sum of t^3 - t over groups of t equal values
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j + 1 < n && all[j + 1].ms == all[i].ms)
            ++j;
        const int score = static_cast<int>(i + 1 + j + 1);
        const double t = static_cast<double>(j - i + 1);
        ties += t * t * t - t;
        for (std::size_t k = i; k <= j; ++k) {
            scores[k] = score;
            if (all[k].after)
                observed += score;
        }
        i = j + 1;
    }
    if (all.front().ms == all.back().ms)
        return 1;

    if (n <= kMostExactSamples) {
        // The smaller side's sums are counted; the other's follow, as both add up to `total`.
        const int total = static_cast<int>(n * (n + 1));
        const bool countAfter = n2 <= n1;
        int most = 0;
        const std::vector<double> ways = SumCounts(scores, countAfter ? n2 : n1, most);
        double all = 0, extreme = 0;
        for (int sum = 0; sum <= most; ++sum) {
            const double count = ways[static_cast<std::size_t>(sum)];
            all += count;
            if (countAfter ? sum >= observed : sum <= total - observed)
                extreme += count;
        }
        return std::clamp(extreme / all, 0.0, 1.0);
    }

    const double a = static_cast<double>(n1), b = static_cast<double>(n2),
                 nn = static_cast<double>(n);
    const double u = observed / 2.0 - b * (b + 1) / 2;
    const double variance = a * b / 12 * ((nn + 1) - ties / (nn * (nn - 1)));
    if (variance <= 0)
        return 1;
    const double z = (u - a * b / 2 - 0.5) / std::sqrt(variance);
    return std::clamp(0.5 * std::erfc(z / std::sqrt(2.0)), 0.0, 1.0);
}

bool StepComparison::IsNews() const
{
    return match != Match::Both || latency != Latency::Same || status != Status::Same;
}

bool BaselineComparison::AnySlower() const
{
    return Count(Latency::Slower) > 0;
}

int BaselineComparison::Count(StepComparison::Latency latency) const
{
    return static_cast<int>(std::count_if(
        steps.begin(), steps.end(), [&](const StepComparison& s) { return s.latency == latency; }));
}

int BaselineComparison::Count(StepComparison::Status status) const
{
    return static_cast<int>(std::count_if(
        steps.begin(), steps.end(), [&](const StepComparison& s) { return s.status == status; }));
}

namespace {

void Judge(StepComparison& step, const BaselineOptions& options)
{
    step.beforeSummary = SummarizeLatencies(step.before);
    step.afterSummary = SummarizeLatencies(step.after);
    if (step.match != Match::Both)
        return;
    if (step.before.empty() || step.after.empty())
        return;
    const double b = step.beforeSummary.p50, delta = step.afterSummary.p50 - b;
    // A baseline median of 0 makes any rise an unbounded share of it.
    const double percent =
        b > 0 ? delta / b * 100 : (delta > 0 ? INFINITY : (delta < 0 ? -INFINITY : 0));
    const bool rose = delta > options.slowerByMs && percent > options.slowerByPercent;
    const bool fell = -delta > options.slowerByMs && -percent > options.slowerByPercent;
    if (!rose && !fell)
        return;
    const int fewest = static_cast<int>(std::min(step.before.size(), step.after.size()));
    if (fewest < options.minRuns) {
        step.latency = Latency::TooFewRuns;
        return;
    }
    step.pValue =
        rose ? ShiftPValue(step.before, step.after) : ShiftPValue(step.after, step.before);
    if (step.pValue <= options.significance)
        step.latency = rose ? Latency::Slower : Latency::Faster;
}

StepComparison Compared(const QString& script, const StepSummary* before, const StepSummary* after,
                        bool edited)
{
    StepComparison step;
    step.script = script;
    step.step = after ? after->step : before->step;
    if (!before) {
        step.match = Match::OnlyRun;
    } else if (!after) {
        step.match = Match::OnlyBaseline;
    } else if (edited && before->step.source != after->step.source) {
        step.match = Match::Changed;
        step.baselineSource = before->step.source;
    }
    if (before)
        step.before = before->latencies;
    if (after)
        step.after = after->latencies;
    if (step.match == Match::Both) {
        const StepStatus was = before->Overall(), now = after->Overall();
        if (was == StepStatus::Passed && now == StepStatus::Failed)
            step.status = Status::NewlyFailing;
        else if (was == StepStatus::Failed && now == StepStatus::Passed)
            step.status = Status::NewlyPassing;
    }
    return step;
}

// Each script's steps, in line order, from SummarizeSteps().
QHash<QString, std::vector<const StepSummary*>> ByScript(const std::vector<StepSummary>& steps)
{
    QHash<QString, std::vector<const StepSummary*>> scripts;
    for (const StepSummary& step : steps)
        scripts[step.script].push_back(&step);
    return scripts;
}

} // namespace

BaselineComparison CompareWithBaseline(const RunResults& baseline, const RunResults& run,
                                       const BaselineOptions& options)
{
    BaselineComparison comparison;
    const std::vector<StepSummary> beforeSteps = SummarizeSteps(baseline);
    const std::vector<StepSummary> afterSteps = SummarizeSteps(run);
    const auto before = ByScript(beforeSteps);
    const auto after = ByScript(afterSteps);

    for (const ScriptInfo& script : run.scripts) {
        const ScriptInfo* old = FindScript(baseline, script.path);
        if (!old) {
            comparison.notes << QStringLiteral("%1: not in the baseline").arg(script.path);
            continue;
        }
        const bool edited = old->sha256 != script.sha256;
        if (edited)
            comparison.notes << QStringLiteral("%1: edited since the baseline; a line that now "
                                               "holds another step is not compared")
                                    .arg(script.path);
        const std::vector<const StepSummary*> none;
        const auto& was = before.contains(script.path) ? before[script.path] : none;
        const auto& now = after.contains(script.path) ? after[script.path] : none;
        // Both in line order: a merge pairs equal lines.
        std::size_t i = 0, j = 0;
        while (i < was.size() || j < now.size()) {
            const int wasLine = i < was.size() ? was[i]->step.line : INT_MAX;
            const int nowLine = j < now.size() ? now[j]->step.line : INT_MAX;
            const StepSummary* b = wasLine <= nowLine ? was[i++] : nullptr;
            const StepSummary* a = nowLine <= wasLine ? now[j++] : nullptr;
            comparison.steps.push_back(Compared(script.path, b, a, edited));
            Judge(comparison.steps.back(), options);
        }
    }
    for (const ScriptInfo& script : baseline.scripts)
        if (!FindScript(run, script.path))
            comparison.notes << QStringLiteral("%1: in the baseline, not run now").arg(script.path);
    return comparison;
}

QString ChangeWords(const StepComparison& step)
{
    switch (step.match) {
    case Match::Changed:
        return QStringLiteral("edited, not compared");
    case Match::OnlyBaseline:
        return QStringLiteral("not run now");
    case Match::OnlyRun:
        return QStringLiteral("not in the baseline");
    case Match::Both:
        break;
    }
    QStringList words;
    if (step.status == Status::NewlyFailing)
        words << QStringLiteral("newly failing");
    else if (step.status == Status::NewlyPassing)
        words << QStringLiteral("newly passing");
    if (step.latency == Latency::Slower)
        words << QStringLiteral("slower");
    else if (step.latency == Latency::Faster)
        words << QStringLiteral("faster");
    else if (step.latency == Latency::TooFewRuns)
        words << QStringLiteral("too few runs to judge");
    return words.isEmpty() ? QStringLiteral("same") : words.join(QStringLiteral(", "));
}

namespace {

QString Signed(double value, const QString& unit, int decimals)
{
    const QString digits = QString::number(std::abs(value), 'f', decimals);
    return (value < 0 ? QStringLiteral("-") : QStringLiteral("+")) + digits + unit;
}

} // namespace

QStringList BaselineTable(const BaselineComparison& comparison)
{
    QStringList lines = comparison.notes;
    const auto cell = [](const QString& text) { return text.rightJustified(9); };
    bool headed = false;
    for (const StepComparison& step : comparison.steps) {
        if (!step.IsNews())
            continue;
        if (!headed) {
            lines << QStringLiteral("change").leftJustified(21) + cell(QStringLiteral("p50 was")) +
                         cell(QStringLiteral("now")) + cell(QStringLiteral("p95 was")) +
                         cell(QStringLiteral("now")) + cell(QStringLiteral("change")) +
                         cell(QStringLiteral("%")) + QStringLiteral("  step");
            headed = true;
        }
        const LatencySummary& b = step.beforeSummary;
        const LatencySummary& a = step.afterSummary;
        const QString dash = QStringLiteral("-");
        QString ms = dash, percent = dash;
        if (step.match == Match::Both && b.count > 0 && a.count > 0) {
            const double delta = a.p50 - b.p50;
            ms = Signed(delta, QString(), 1);
            if (b.p50 > 0 && std::abs(delta / b.p50) < 10)
                percent = Signed(delta / b.p50 * 100, QStringLiteral("%"), 0);
            else if (delta != 0)
                percent = delta > 0 ? QStringLiteral(">+999%") : QStringLiteral("<-999%");
            else
                percent = QStringLiteral("0%");
        }
        QString where = QStringLiteral("%1:%2  %3")
                            .arg(step.script, QString::number(step.step.line), step.step.source);
        if (step.match == Match::Changed)
            where += QStringLiteral("  (was: %1)").arg(step.baselineSource);
        else if (step.latency == Latency::TooFewRuns)
            where += QStringLiteral("  (%1 and %2 runs)").arg(b.count).arg(a.count);
        lines << ChangeWords(step).leftJustified(21) + cell(b.count ? FormatMs(b.p50) : dash) +
                     cell(a.count ? FormatMs(a.p50) : dash) +
                     cell(b.count ? FormatMs(b.p95) : dash) +
                     cell(a.count ? FormatMs(a.p95) : dash) + cell(ms) + cell(percent) +
                     QStringLiteral("  ") + where;
    }
    const int notCompared = static_cast<int>(
        std::count_if(comparison.steps.begin(), comparison.steps.end(),
                      [](const StepComparison& s) { return s.match != Match::Both; }));
    if (!headed && comparison.notes.isEmpty())
        return {QStringLiteral("no change since the baseline")};
    lines << QStringLiteral("%1 slower, %2 faster, %3 newly failing, %4 newly passing, "
                            "%5 too few runs to judge, %6 not compared")
                 .arg(comparison.Count(Latency::Slower))
                 .arg(comparison.Count(Latency::Faster))
                 .arg(comparison.Count(Status::NewlyFailing))
                 .arg(comparison.Count(Status::NewlyPassing))
                 .arg(comparison.Count(Latency::TooFewRuns))
                 .arg(notCompared);
    return lines;
}
