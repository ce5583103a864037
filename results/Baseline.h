#pragma once

#include "results/LatencyStats.h"
#include "results/RunResults.h"

#include <QStringList>

#include <vector>

// What counts as a change in latency. A step is slower only when its median latency rose by
// more than both `slowerByPercent` (of the baseline's median) and `slowerByMs`, and the two
// samples differ beyond their noise: a one-sided Mann-Whitney U test (ShiftPValue) gives at
// most `significance`. Below `minRuns` passed runs on either side, a step whose median moved
// that far is "too few runs to judge" instead. Faster is the same rule mirrored.
struct BaselineOptions
{
    double slowerByPercent = 20;
    double slowerByMs = 2;
    double significance = 0.01;
    // Five on each side is also the least at which complete separation reaches 0.01 at all
    // (1 in 252).
    int minRuns = 5;
};

// Samples up to this many values together get the exact distribution of the rank sum; larger
// ones the normal approximation, with its correction for ties and for continuity.
inline constexpr std::size_t kMostExactSamples = 40;

// The one-sided p-value of the Mann-Whitney U test that `after` tends to be larger than
// `before`: the chance, were both drawn from one distribution, of a rank sum of `after` at least
// the one seen. Equal values share their mean rank; the exact distribution is then the one of
// those shared ranks (a permutation test), so ties need no correction there. 1 when either
// sample is empty or every value is equal.
double ShiftPValue(const std::vector<double>& before, const std::vector<double>& after);

struct StepComparison
{
    enum class Match
    {
        Both,         // the same step on both sides: compared
        Changed,      // the script was edited and its line holds another step: not compared
        OnlyBaseline, // the step is no longer run
        OnlyRun,      // a new step, or one the baseline did not run
    };
    enum class Latency
    {
        Same, // within the thresholds or the noise, or nothing to compare
        Slower,
        Faster,
        TooFewRuns, // moved past the thresholds, with too few runs to tell it from noise
    };
    enum class Status
    {
        Same,
        NewlyFailing, // passed in the baseline, failed now
        NewlyPassing, // failed in the baseline, passed now
    };

    QString script;
    StepInfo step;          // as run now; the baseline's for OnlyBaseline
    QString baselineSource; // Changed: the step the baseline had at this line
    Match match = Match::Both;
    Latency latency = Latency::Same;
    Status status = Status::Same;
    std::vector<double> before; // passed runs' latencies in the baseline, in run order
    std::vector<double> after;  // and now
    LatencySummary beforeSummary;
    LatencySummary afterSummary;
    double pValue = 1; // of the test run for Slower, Faster or a verdict against them

    // Worth a row of the table: anything but a step compared and found the same.
    bool IsNews() const;
};

struct BaselineComparison
{
    // Every step of every script on either side, the run's scripts first (in their order), then
    // those only the baseline has.
    std::vector<StepComparison> steps;
    // One line a script that is new, gone or edited since the baseline.
    QStringList notes;

    bool AnySlower() const;
    int Count(StepComparison::Latency latency) const;
    int Count(StepComparison::Status status) const;
};

// Steps are matched by script path and line. Where the script's digest differs, a line is
// compared only when it holds the same step text on both sides.
BaselineComparison CompareWithBaseline(const RunResults& baseline, const RunResults& run,
                                       const BaselineOptions& options = {});

// The table of what changed, one line a row: the script notes, a heading, a row per step worth
// one (what changed; p50 and p95 before and after; for a step compared, the change of p50 in ms
// and in % of the baseline's; the step), and a closing count. One line "no change since the
// baseline" when nothing changed.
QStringList BaselineTable(const BaselineComparison& comparison);

// The words the tables use for a step's change, "slower", "newly failing, slower" and so on.
QString ChangeWords(const StepComparison& step);
