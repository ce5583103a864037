// The comparison with a baseline: the rank test's p-values, the rule that calls a step slower or
// faster, the matching of steps by script and line, and the table of what changed.
#include "results/Baseline.h"
#include "tests/results/ResultsSample.h"

#include <QTest>

#include <numeric>

using Samples = std::vector<double>;
Q_DECLARE_METATYPE(Samples)

namespace {

Samples Around(double ms, std::initializer_list<double> noise)
{
    Samples samples;
    for (const double n : noise)
        samples.push_back(ms + n);
    return samples;
}

// Ten runs with the jitter a loaded machine adds, up to half a millisecond.
Samples Jittery(double ms)
{
    return Around(ms, {0.1, -0.2, 0.3, 0.0, -0.1, 0.4, 0.2, -0.3, 0.1, 0.5});
}

// The p-value by listing every way to share the ranks out: slow, but plainly right.
double Enumerated(const Samples& before, const Samples& after)
{
    Samples all = before;
    all.insert(all.end(), after.begin(), after.end());
    const auto rank = [&](double value) {
        double below = 0, equal = 0;
        for (const double v : all)
            below += v < value, equal += v == value;
        return below + (equal + 1) / 2;
    };
    double observed = 0;
    for (const double v : after)
        observed += rank(v);
    const int n = int(all.size()), k = int(after.size());
    int subsets = 0, extreme = 0;
    for (unsigned mask = 0; mask < (1u << n); ++mask) {
        if (__builtin_popcount(mask) != k)
            continue;
        double sum = 0;
        for (int i = 0; i < n; ++i)
            if (mask & (1u << i))
                sum += rank(all[std::size_t(i)]);
        ++subsets;
        extreme += sum >= observed - 1e-9;
    }
    return double(extreme) / subsets;
}

// The words a comparison gives its steps worth a row, "line: words".
QStringList News(const BaselineComparison& comparison)
{
    QStringList news = comparison.notes;
    for (const StepComparison& step : comparison.steps)
        if (step.IsNews())
            news << QStringLiteral("%1: %2").arg(step.step.line).arg(ChangeWords(step));
    return news;
}

Samples Steps(double from, int count, double by)
{
    Samples samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(from + i * by);
    return samples;
}

} // namespace

class ResultsBaselineTest : public QObject
{
    Q_OBJECT

private slots:
    void pValues_data();
    void pValues();
    void exactAgreesWithEnumeration_data();
    void exactAgreesWithEnumeration();
    void latency_data();
    void latency();
    void matching_data();
    void matching();
    void table();
};

void ResultsBaselineTest::pValues_data()
{
    QTest::addColumn<Samples>("before");
    QTest::addColumn<Samples>("after");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("within");

    QTest::newRow("5 and 5 apart: 1 in 252")
        << Samples{1, 2, 3, 4, 5} << Samples{6, 7, 8, 9, 10} << 1.0 / 252 << 1e-12;
    QTest::newRow("4 and 4 apart: 1 in 70, not below 0.01")
        << Samples{1, 2, 3, 4} << Samples{6, 7, 8, 9} << 1.0 / 70 << 1e-12;
    QTest::newRow("apart the other way: 1")
        << Samples{6, 7, 8, 9, 10} << Samples{1, 2, 3, 4, 5} << 1.0 << 1e-12;
    QTest::newRow("ties across the samples, exact")
        << Samples{1, 1, 2, 2, 3} << Samples{2, 3, 3, 4, 4} << 10.0 / 252 << 1e-12;
    QTest::newRow("all equal: 1") << Samples{3, 3, 3} << Samples{3, 3, 3, 3} << 1.0 << 0.0;
    QTest::newRow("an empty side: 1") << Samples{} << Samples{1, 2} << 1.0 << 0.0;
    QTest::newRow("30 and 30 apart, normal approximation")
        << Steps(1, 30, 0.1) << Steps(10, 30, 0.1) << 0.0 << 1e-9;
    // Exact by the same rank-sum count done by hand elsewhere: 0.040555; with ties the
    // approximation's corrections bring it within a thousandth.
    QTest::newRow("25 and 25 with ties, normal approximation")
        << Samples{0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7, 8, 8, 8, 9, 10, 10, 10, 11, 12, 12}
        << Samples{2, 2, 3,  4,  4,  4,  5,  6,  6,  6,  7,  8, 8,
                   8, 9, 10, 10, 10, 11, 12, 12, 12, 13, 14, 14}
        << 0.040555 << 1e-3;
}

void ResultsBaselineTest::pValues()
{
    QFETCH(Samples, before);
    QFETCH(Samples, after);
    QFETCH(double, p);
    QFETCH(double, within);
    const double got = ShiftPValue(before, after);
    QVERIFY2(qAbs(got - p) <= within, qPrintable(QStringLiteral("p = %1").arg(got, 0, 'g', 10)));
}

void ResultsBaselineTest::exactAgreesWithEnumeration_data()
{
    QTest::addColumn<Samples>("before");
    QTest::addColumn<Samples>("after");

    QTest::newRow("interleaved") << Samples{1, 3, 5, 7, 9} << Samples{2, 4, 6, 8, 10};
    QTest::newRow("ties within and across") << Samples{1, 1, 2, 5, 5, 5} << Samples{2, 2, 5, 6};
    QTest::newRow("the larger side after") << Samples{4, 1, 3} << Samples{2, 5, 5, 6, 0, 7, 3};
    QTest::newRow("one against many") << Samples{5} << Samples{1, 2, 3, 4, 6, 7, 8};
    QTest::newRow("mostly equal") << Samples{2, 2, 2, 2, 3} << Samples{2, 2, 2, 3, 3, 3};
}

void ResultsBaselineTest::exactAgreesWithEnumeration()
{
    QFETCH(Samples, before);
    QFETCH(Samples, after);
    QCOMPARE(ShiftPValue(before, after), Enumerated(before, after));
    QCOMPARE(ShiftPValue(after, before), Enumerated(after, before));
}

void ResultsBaselineTest::latency_data()
{
    QTest::addColumn<Samples>("before");
    QTest::addColumn<Samples>("after");
    QTest::addColumn<QString>("change");

    const QString same = QStringLiteral("same");
    QTest::newRow("3 ms to 8 ms: slower") << Jittery(3) << Jittery(8) << "slower";
    QTest::newRow("8 ms to 3 ms: faster") << Jittery(8) << Jittery(3) << "faster";
    // The module answering at once, then after 5 ms, with the odd scheduling hiccup on both.
    QTest::newRow("a 0 ms baseline, a run at 5 ms")
        << Samples{0.3, 0.2, 0.4, 1.9, 0.3, 0.25} << Samples{5.4, 5.3, 7.9, 5.2, 5.6, 5.3}
        << "slower";
    QTest::newRow("the same, with noise")
        << Jittery(5) << Around(5, {0.3, -0.1, 0.2, 0.5, -0.3, 0.0, 0.4, -0.2, 0.1, 0.2}) << same;
    QTest::newRow("one 40 ms spike among 3 ms")
        << Jittery(3) << Around(3, {0.1, -0.2, 0.3, 37, -0.1, 0.4, 0.2, -0.3, 0.1, 0.0}) << same;
    QTest::newRow("a few spikes now: the median holds")
        << Jittery(3) << Around(3, {30, -0.2, 0.3, 37, -0.1, 0.4, 25, -0.3, 0.1, 0.0}) << same;
    QTest::newRow("1.5 ms more, 50%: under 2 ms") << Jittery(3) << Jittery(4.5) << same;
    QTest::newRow("3 ms more on 30 ms, 10%: under 20%") << Jittery(30) << Jittery(33) << same;
    QTest::newRow("exactly 2 ms more: not more than 2 ms")
        << Samples{0, 0, 0, 0, 0} << Samples{2, 2, 2, 2, 2} << same;
    QTest::newRow("medians apart, samples overlapping")
        << Samples{2, 3, 4, 30, 31, 32} << Samples{3, 4, 30, 31, 32, 33} << same;
    QTest::newRow("3 and 3 runs far apart: too few")
        << Samples{3, 3.1, 2.9} << Samples{9, 9.2, 8.8} << "too few runs to judge";
    QTest::newRow("one run each, far apart: too few")
        << Samples{3} << Samples{9} << "too few runs to judge";
    QTest::newRow("4 and 10 runs far apart: too few")
        << Samples{3, 3.1, 2.9, 3} << Jittery(9) << "too few runs to judge";
    QTest::newRow("3 and 3 runs close: nothing to say")
        << Samples{3, 3.1, 2.9} << Samples{3.2, 3, 3.1} << same;
    QTest::newRow("all equal, the same on both sides")
        << Samples(8, 3.0) << Samples(8, 3.0) << same;
    QTest::newRow("all equal on each side, 3 ms then 8 ms")
        << Samples(5, 3.0) << Samples(5, 8.0) << "slower";
}

void ResultsBaselineTest::latency()
{
    QFETCH(Samples, before);
    QFETCH(Samples, after);
    QFETCH(QString, change);
    const QString expect = QStringLiteral("expect $on_click (down : ctrl 1)");
    const BaselineComparison comparison = CompareWithBaseline(OneScript('1', {{4, expect, before}}),
                                                              OneScript('1', {{4, expect, after}}));
    QCOMPARE(comparison.steps.size(), std::size_t(1));
    QCOMPARE(ChangeWords(comparison.steps[0]), change);
    QCOMPARE(comparison.AnySlower(), change == u"slower");
}

void ResultsBaselineTest::matching_data()
{
    QTest::addColumn<RunResults>("baseline");
    QTest::addColumn<RunResults>("run");
    QTest::addColumn<QStringList>("news");

    const QString a = QStringLiteral("expect $on_touch*"), b = QStringLiteral("expect $on_key*");
    const Samples passed(6, 3.0), slow(6, 9.0);
    const auto failedOnce = [](Samples s) {
        s[2] = kFailed;
        return s;
    };
    QTest::newRow("passed, now failing once")
        << OneScript('1', {{3, a, passed}}) << OneScript('1', {{3, a, failedOnce(passed)}})
        << QStringList{"3: newly failing"};
    QTest::newRow("failing, now passing")
        << OneScript('1', {{3, a, failedOnce(passed)}}) << OneScript('1', {{3, a, passed}})
        << QStringList{"3: newly passing"};
    QTest::newRow("failing on both sides: no news")
        << OneScript('1', {{3, a, failedOnce(passed)}})
        << OneScript('1', {{3, a, failedOnce(passed)}}) << QStringList();
    QTest::newRow("newly failing and slower")
        << OneScript('1', {{3, a, passed}}) << OneScript('1', {{3, a, failedOnce(slow)}})
        << QStringList{"3: newly failing, slower"};
    QTest::newRow("not run now: neither newly failing nor passing")
        << OneScript('1', {{3, a, passed}}) << OneScript('1', {{3, a, Samples(6, kSkipped)}})
        << QStringList();
    QTest::newRow("a step gone, a step new")
        << OneScript('1', {{3, a, passed}, {5, b, passed}})
        << OneScript('2', {{3, a, passed}, {7, b, passed}})
        << QStringList{"a.ots: edited since the baseline; a line that now holds another step is "
                       "not compared",
                       "5: not run now", "7: not in the baseline"};
    QTest::newRow("edited: another step at the line is not compared")
        << OneScript('1', {{3, a, passed}}) << OneScript('2', {{3, b, slow}})
        << QStringList{"a.ots: edited since the baseline; a line that now holds another step is "
                       "not compared",
                       "3: edited, not compared"};
    QTest::newRow("edited: the same step at the line is compared")
        << OneScript('1', {{3, a, passed}}) << OneScript('2', {{3, a, slow}})
        << QStringList{"a.ots: edited since the baseline; a line that now holds another step is "
                       "not compared",
                       "3: slower"};
    QTest::newRow("the same digest: the step is compared whatever its text")
        << OneScript('1', {{3, a, passed}}) << OneScript('1', {{3, b, slow}})
        << QStringList{"3: slower"};
    QTest::newRow("a script new, a script gone")
        << OneScript('1', {{3, a, passed}}, QStringLiteral("old.ots"))
        << OneScript('1', {{3, a, slow}}, QStringLiteral("new.ots"))
        << QStringList{"new.ots: not in the baseline", "old.ots: in the baseline, not run now"};
}

void ResultsBaselineTest::matching()
{
    QFETCH(RunResults, baseline);
    QFETCH(RunResults, run);
    QFETCH(QStringList, news);
    QCOMPARE(News(CompareWithBaseline(baseline, run)), news);
}

void ResultsBaselineTest::table()
{
    RunResults baseline = OneScript('1', {{3, QStringLiteral("expect $on_touch*"), Jittery(3)},
                                          {5, QStringLiteral("expect $on_key*"), Jittery(4)},
                                          {6, QStringLiteral("expect $on_date*"), Jittery(0.5)},
                                          {8, QStringLiteral("screen a.png"), Samples(10, 0)}});
    RunResults run = OneScript('2', {{3, QStringLiteral("expect $on_touch*"), Jittery(8)},
                                     {5, QStringLiteral("expect $on_key*"), Jittery(4)},
                                     {6, QStringLiteral("expect $on_time*"), Jittery(0.5)},
                                     {8, QStringLiteral("screen a.png"), Samples(10, kFailed)}});
    QCOMPARE(
        BaselineTable(CompareWithBaseline(baseline, run)),
        (QStringList{
            "a.ots: edited since the baseline; a line that now holds another step is not "
            "compared",
            "change                 p50 was      now  p95 was      now   change        %  step",
            "slower                     3.1      8.1      3.5      8.5     +5.0    +161%  "
            "a.ots:3  expect $on_touch*",
            "edited, not compared       0.6      0.6      1.0      1.0        -        -  "
            "a.ots:6  expect $on_time*  (was: expect $on_date*)",
            "newly failing                -        -        -        -        -        -  "
            "a.ots:8  screen a.png",
            "1 slower, 0 faster, 1 newly failing, 0 newly passing, 0 too few runs to judge, "
            "1 not compared"}));

    // Nothing changed: one line says so.
    QCOMPARE(BaselineTable(CompareWithBaseline(baseline, baseline)),
             QStringList{"no change since the baseline"});
}

QTEST_GUILESS_MAIN(ResultsBaselineTest)
#include "tst_results_baseline.moc"
