// What a run's counts say, and how orvexa-run ends for them.
#include "script/RunCounts.h"

#include <QTest>

#include <csignal>

using Outcome = RunCounts::Outcome;

class RunCountsTest : public QObject
{
    Q_OBJECT

private slots:
    void summaryAndExit_data();
    void summaryAndExit();
};

void RunCountsTest::summaryAndExit_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("outcomes"); // one letter a step: Passed, Failed, Skipped
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<int>("exit");

    const QByteArray mixed = "send A;\nexpect a\nwait 1\nexpect-none b for 5\n";
    QTest::newRow("checks passed") << mixed << "PPPP" << int(RunEnd::Completed)
                                   << "4 steps ran, 2 of them checks: 2 passed, 0 failed" << 0;
    QTest::newRow("a check failed") << mixed << "PFPP" << int(RunEnd::Completed)
                                    << "4 steps ran, 2 of them checks: 1 passed, 1 failed" << 1;
    QTest::newRow("a send failed, the checks passed")
        << mixed << "FPPP" << int(RunEnd::Completed)
        << "4 steps ran, 2 of them checks: 2 passed, 0 failed; 1 other step failed" << 1;
    QTest::newRow("nothing to check")
        << QByteArray("send A;\nwait 1\n") << "PP" << int(RunEnd::Completed)
        << "2 steps ran, 0 of them checks: 0 passed, 0 failed; "
           "nothing was checked"
        << 2;
    QTest::newRow("the checks skipped")
        << mixed << "PSPS" << int(RunEnd::Completed)
        << "2 steps ran, 0 of them checks: 0 passed, 0 failed; 2 skipped; nothing was checked" << 2;
    QTest::newRow("one check") << QByteArray("expect a\n") << "P" << int(RunEnd::Completed)
                               << "1 step ran, 1 of them a check: 1 passed, 0 failed" << 0;
    QTest::newRow("port lost") << mixed << "PFSS" << int(RunEnd::PortLost)
                               << "2 steps ran, 1 of them a check: 0 passed, 1 failed; 2 skipped"
                               << 2;
    // Another port's failure stopped this one before it checked anything: the run failed.
    QTest::newRow("stopped by fail-fast before any check")
        << mixed << "PSSS" << int(RunEnd::FailedFast)
        << "1 step ran, 0 of them checks: 0 passed, 0 failed; 3 skipped; nothing was checked" << 1;
    QTest::newRow("hang-up") << mixed << "PPSS" << int(RunEnd::Interrupted)
                             << "2 steps ran, 1 of them a check: 1 passed, 0 failed; 2 skipped"
                             << 129;
}

void RunCountsTest::summaryAndExit()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, outcomes);
    QFETCH(int, end);
    QFETCH(QString, summary);
    QFETCH(int, exit);

    const ParseOutcome parsed = ParseScript(script);
    QCOMPARE(qsizetype(parsed.steps.size()), outcomes.size());
    RunCounts counts;
    for (std::size_t i = 0; i < parsed.steps.size(); ++i) {
        const QChar letter = outcomes[qsizetype(i)];
        counts.Add(parsed.steps[i], letter == u'P'   ? Outcome::Passed
                                    : letter == u'F' ? Outcome::Failed
                                                     : Outcome::Skipped);
    }
    QCOMPARE(FormatRunCounts(counts), summary);
    QCOMPARE(RunExitStatus(counts, RunEnd(end), SIGHUP), exit);
}

QTEST_GUILESS_MAIN(RunCountsTest)
#include "tst_run_counts.moc"
