// Latency statistics: the quantiles and their interpolation, the pooling of every run of a step,
// and the table printed at the end of a run.
#include "results/LatencyStats.h"
#include "tests/results/ResultsSample.h"

#include <QTest>

using Samples = std::vector<double>;
Q_DECLARE_METATYPE(Samples)

class ResultsStatsTest : public QObject
{
    Q_OBJECT

private slots:
    void summaries_data();
    void summaries();
    void pooling();
    void table_data();
    void table();
};

void ResultsStatsTest::summaries_data()
{
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("p50");
    QTest::addColumn<double>("p95");
    QTest::addColumn<double>("max");

    QTest::newRow("none: all zero") << Samples{} << 0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("one sample is every quantile") << Samples{7} << 1 << 7.0 << 7.0 << 7.0 << 7.0;
    QTest::newRow("two: the median is their mean, p95 interpolates")
        << Samples{3, 1} << 2 << 1.0 << 2.0 << 2.9 << 3.0;
    QTest::newRow("odd count: the median is the middle one, in any order")
        << Samples{5, 1, 3} << 3 << 1.0 << 3.0 << 4.8 << 5.0;
    QTest::newRow("1 to 20: p95 between the 19th and the 20th") << [] {
        Samples s;
        for (int i = 20; i >= 1; --i)
            s.push_back(i);
        return s;
    }() << 20 << 1.0 << 10.5 << 19.05 << 20.0;
    QTest::newRow("ties") << Samples{2, 2, 2, 2} << 4 << 2.0 << 2.0 << 2.0 << 2.0;
    QTest::newRow("one spike moves max and p95, not the median")
        << Samples{3, 3, 3, 3, 3, 3, 3, 3, 3, 40} << 10 << 3.0 << 3.0 << 23.35 << 40.0;
}

void ResultsStatsTest::summaries()
{
    QFETCH(Samples, samples);
    QFETCH(int, count);
    QFETCH(double, min);
    QFETCH(double, p50);
    QFETCH(double, p95);
    QFETCH(double, max);
    const LatencySummary summary = SummarizeLatencies(samples);
    QCOMPARE(summary.count, count);
    QCOMPARE(summary.min, min);
    QCOMPARE(summary.p50, p50);
    QVERIFY2(qAbs(summary.p95 - p95) < 1e-9, qPrintable(QString::number(summary.p95)));
    QCOMPARE(summary.max, max);
}

void ResultsStatsTest::pooling()
{
    // Two ports, two rounds each; a failed and a skipped run add no latency.
    RunResults results =
        OneScript('1', {{2, QStringLiteral("send Clear;"), {0, 0, 0, 0}},
                        {3, QStringLiteral("expect $on_click*"), {4, 1, kFailed, 2}},
                        {5, QStringLiteral("screen a.png"), {0, kSkipped, 0, 0}}});
    results.runs[2].port = results.runs[3].port = QStringLiteral("COM7");
    // A run of a script not listed, and a step run of a line the script lacks, count nowhere.
    results.runs.push_back(results.runs[0]);
    results.runs.back().script = QStringLiteral("other.ots");
    results.runs[0].steps.push_back(StepRun{9, StepStatus::Passed, 0, 0, 100, {}, {}, {}});

    const std::vector<StepSummary> steps = SummarizeSteps(results);
    QCOMPARE(steps.size(), std::size_t(3));
    QCOMPARE(steps[1].step.line, 3);
    QCOMPARE(steps[1].latencies, (Samples{4, 1, 2}));
    QCOMPARE(steps[1].passed, 3);
    QCOMPARE(steps[1].failed, 1);
    QCOMPARE(int(steps[1].Overall()), int(StepStatus::Failed));
    QCOMPARE(steps[2].skipped, 1);
    QCOMPARE(int(steps[2].Overall()), int(StepStatus::Passed));
    QVERIFY(steps[2].latencies.empty());
}

void ResultsStatsTest::table_data()
{
    QTest::addColumn<RunResults>("results");
    QTest::addColumn<QStringList>("lines");

    const QString heading =
        QStringLiteral("latency (ms)  count      min      p50      p95      max  step");
    QTest::newRow("no expect step: no table")
        << OneScript('1', {{1, QStringLiteral("send Clear;"), {0}}}) << QStringList();
    QTest::newRow("expect steps only, in line order; a dash where none passed")
        << OneScript('1', {{1, QStringLiteral("send Clear;"), {0, 0}},
                           {4, QStringLiteral("expect $on_touch*"), {1.4, 3}},
                           {7, QStringLiteral("expect $on_key*"), {kFailed, kFailed}}})
        << QStringList{heading,
                       QStringLiteral("                  2      1.4      2.2      2.9      3.0  "
                                      "a.ots:4  expect $on_touch*"),
                       QStringLiteral("                  0        -        -        -        -  "
                                      "a.ots:7  expect $on_key*")};
    QTest::newRow("a name with %8 in it is printed as it is")
        << OneScript('1', {{2, QStringLiteral("expect 100%1 %8"), {1000.04}}},
                     QStringLiteral("x%8%1.ots"))
        << QStringList{heading, QStringLiteral("                  1   1000.0   1000.0   1000.0   "
                                               "1000.0  x%8%1.ots:2  expect 100%1 %8")};
}

void ResultsStatsTest::table()
{
    QFETCH(RunResults, results);
    QFETCH(QStringList, lines);
    QCOMPARE(LatencyTable(SummarizeSteps(results)), lines);
}

QTEST_GUILESS_MAIN(ResultsStatsTest)
#include "tst_results_stats.moc"
