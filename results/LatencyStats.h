#pragma once

#include "results/RunResults.h"

#include <QStringList>

#include <vector>

struct LatencySummary
{
    int count = 0; // the rest is 0 when count is 0
    double min = 0;
    double p50 = 0;
    double p95 = 0;
    double max = 0;
};

// The p-quantile (p from 0 to 1) of ascending samples, by linear interpolation between the
// closest ranks: with h = (n - 1) p, x[floor h] + (h - floor h) (x[floor h + 1] - x[floor h]),
// ranks counted from 0. The median of an even count is the mean of the middle two; one sample
// is every quantile of itself. The common default of statistics tools (Hyndman and Fan's
// definition 7). 0 for no samples.
double Quantile(const std::vector<double>& ascending, double p);

// Samples in any order.
LatencySummary SummarizeLatencies(std::vector<double> samples);

// One step of a script over every run of that script: all ports, all rounds.
struct StepSummary
{
    QString script; // ScriptInfo::path
    StepInfo step;
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    // Expect steps: the latency of each run that passed, in the order of RunResults::runs.
    std::vector<double> latencies;

    // Failed when any run failed, else passed when any passed, else skipped (never run).
    StepStatus Overall() const;
};

// Every step of every script, scripts in their order and steps in line order. Runs of a script
// that is not listed, and step runs of a line the script does not have, are left out.
std::vector<StepSummary> SummarizeSteps(const RunResults& results);

// The latency table printed at the end of a run, one line a row: a heading, then each expect
// step with its count, min, p50, p95 and max in ms (a dash where no run passed) and then
// "script:line  source". Nothing when the run had no expect step.
QStringList LatencyTable(const std::vector<StepSummary>& steps);

// "12.3": how the tables write milliseconds.
QString FormatMs(double ms);
