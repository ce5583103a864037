#pragma once

#include "results/RunResults.h"

#include <QDateTime>
#include <QMetaType>

#include <algorithm>
#include <vector>

// Runs made to order for the tests of this folder: one script, its steps with an outcome per
// run, each run on port "virtual" in its own round.
Q_DECLARE_METATYPE(RunResults)

inline constexpr double kFailed = -1;
inline constexpr double kSkipped = -2;

struct PlannedStep
{
    int line;
    QString source;               // the first word is the step's kind
    std::vector<double> outcomes; // per round: a latency (passed), kFailed or kSkipped
};

inline QString Digest(char version)
{
    return QString(64, QChar::fromLatin1(version));
}

inline RunResults OneScript(char version, const std::vector<PlannedStep>& steps,
                            const QString& path = QStringLiteral("a.ots"))
{
    RunResults results;
    results.started = QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);
    ScriptInfo script{path, Digest(version), {}};
    std::size_t rounds = 0;
    for (const PlannedStep& planned : steps) {
        script.steps.push_back({planned.line, planned.source.section(u' ', 0, 0), planned.source});
        rounds = std::max(rounds, planned.outcomes.size());
    }
    results.scripts.push_back(script);
    for (std::size_t round = 0; round < rounds; ++round) {
        ScriptRun run{QStringLiteral("virtual"), path, int(round) + 1, 0, 0, {}, {}};
        for (const PlannedStep& planned : steps) {
            if (round >= planned.outcomes.size())
                continue;
            StepRun step;
            step.line = planned.line;
            const double outcome = planned.outcomes[round];
            step.status = outcome >= 0         ? StepStatus::Passed
                          : outcome == kFailed ? StepStatus::Failed
                                               : StepStatus::Skipped;
            if (outcome >= 0 && planned.source.startsWith(u"expect "))
                step.latencyMs = outcome;
            run.steps.push_back(step);
        }
        results.runs.push_back(run);
    }
    return results;
}
