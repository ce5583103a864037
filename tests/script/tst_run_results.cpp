// What a run leaves at its end besides its lines: the changes since a baseline, the results file
// and the report, and the exit status they make.
#include "results/ResultsFile.h"
#include "script/ResultsCollector.h"
#include "script/RunCounts.h"
#include "tests/results/ResultsSample.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class RunResultsTest : public QObject
{
    Q_OBJECT

private slots:
    void finish_data();
    void finish();
};

void RunResultsTest::finish_data()
{
    QTest::addColumn<double>("before"); // every baseline run's latency; < 0: no baseline
    QTest::addColumn<double>("after");  // and every run's now
    QTest::addColumn<bool>("failOnSlower");
    QTest::addColumn<int>("exitBefore");  // the run's own exit status
    QTest::addColumn<QString>("results"); // file names in the test's folder; "/..." as it is
    QTest::addColumn<QString>("report");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("printed"); // a line printed, or standard error, that must be there

    QTest::newRow("slower fails the run") << 3.0 << 9.0 << true << kExitPassed << "r.json"
                                          << "r.html" << kExitFailed << "1 steps got slower";
    QTest::newRow("slower, only told") << 3.0 << 9.0 << false << kExitPassed << "r.json"
                                       << "r.html" << kExitPassed << "1 slower, 0 faster";
    QTest::newRow("faster passes") << 9.0 << 3.0 << true << kExitPassed << ""
                                   << "" << kExitPassed << "0 slower, 1 faster";
    // 2 ms more is within --slower-ms, however many percent it is.
    QTest::newRow("within the thresholds") << 1.0 << 2.9 << true << kExitPassed << ""
                                           << "" << kExitPassed << "no change since the baseline";
    QTest::newRow("never better than the run")
        << 3.0 << 3.0 << true << kExitError << ""
        << "" << kExitError << "no change since the baseline";
    QTest::newRow("no baseline, no table") << -1.0 << 3.0 << true << kExitPassed << "r.json"
                                           << "" << kExitPassed << "";
    QTest::newRow("results file not written")
        << -1.0 << 3.0 << false << kExitFailed << "/nonexistent/r.json"
        << "" << kExitError << "cannot write the results file \"/nonexistent/r.json\"";
    QTest::newRow("report not written")
        << -1.0 << 3.0 << false << kExitPassed << ""
        << "/nonexistent/r.html" << kExitError << "cannot write the report \"/nonexistent/r.html\"";
}

void RunResultsTest::finish()
{
    QFETCH(double, before);
    QFETCH(double, after);
    QFETCH(bool, failOnSlower);
    QFETCH(int, exitBefore);
    QFETCH(QString, results);
    QFETCH(QString, report);
    QFETCH(int, exit);
    QFETCH(QString, printed);

    const auto runs = [](double ms) {
        return OneScript('1', {{1, QStringLiteral("send X;"), std::vector<double>(6, 0)},
                               {2, QStringLiteral("expect $on_x*"), std::vector<double>(6, ms)}});
    };
    QTemporaryDir dir;
    const auto place = [&dir](const QString& name) {
        return name.isEmpty() || name.startsWith(u'/') ? name : dir.filePath(name);
    };
    const RunResults run = runs(after);
    const RunResults baseline = runs(before);
    ResultsOutputs outputs;
    outputs.results = place(results);
    outputs.report = place(report);
    outputs.baseline = before >= 0 ? &baseline : nullptr;
    outputs.failOnSlower = failOnSlower;
    QStringList lines;
    const auto print = [&lines](const QString& line) { lines << line; };
    QCOMPARE(FinishResults(run, outputs, exitBefore, print, print), exit);

    const QString all = lines.join(u'\n');
    QVERIFY2(printed.isEmpty() ? lines.isEmpty() : all.contains(printed), qPrintable(all));
    if (exit == kExitError)
        return;
    if (!results.isEmpty()) {
        RunResults read;
        QString error;
        QVERIFY2(LoadResults(outputs.results, read, error), qPrintable(error));
        QCOMPARE(read, run);
    }
    if (!report.isEmpty()) {
        QFile file(outputs.report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("<!DOCTYPE html>"));
    }
}

QTEST_MAIN(RunResultsTest)
#include "tst_run_results.moc"
