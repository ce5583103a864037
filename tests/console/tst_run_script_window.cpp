// The console's Run Script window on a long script, against a pseudo-terminal standing in for a
// module that never answers: however a run ends, the window answers at once and says how far it
// got, and a lost port reads as a loss, not as a stop.
#include "app/RunScriptDlg.h"
#include "tests/console/ConsoleFixture.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

constexpr int kSteps = 100'000;

} // namespace

class RunScriptWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void longRunEndsAtOnce_data();
    void longRunEndsAtOnce();
};

void RunScriptWindowTest::longRunEndsAtOnce_data()
{
    QTest::addColumn<QString>("end");
    // After "N steps ran, N of them checks: "; none where the window goes with the run.
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("running"); // the state of the step under way then
    QTest::addColumn<QString>("rest");    // and of those after it

    QTest::newRow("Stop") << "stop"
                          << "0 passed, 0 failed; 99999 skipped; nothing was checked (stopped)"
                          << "skipped: stopped"
                          << "skipped: stopped";
    QTest::newRow("the window closed") << "window" << QString() << QString() << QString();
    QTest::newRow("the port lost") << "lost"
                                   << "0 passed, 1 failed; 99998 skipped (the port was lost)"
                                   << "failed: COM5: the device"
                                   << "skipped: not run: the port was lost";
    QTest::newRow("the console closed") << "console" << QString() << QString() << QString();
}

void RunScriptWindowTest::longRunEndsAtOnce()
{
    QFETCH(QString, end);
    QFETCH(QString, summary);
    QFETCH(QString, running);
    QFETCH(QString, rest);

    ConsoleFixture f;
    auto module = std::make_unique<PseudoTerminal>();
    QVERIFY(f.StartOpen(*module, 5));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("long.ots"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("send Clear\nexpect $on_nothing within 600000\n" +
                   QByteArray("wait 0\n").repeated(kSteps - 2));
    }

    QElapsedTimer clock;
    clock.start();
    CRunScriptDlg* run = f.console->Scripts().RunScriptFile(path);
    QVERIFY(run);
    const qint64 loadMs = clock.elapsed();
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    QTRY_COMPARE(run->StepText(1, CRunScriptDlg::kStateColumn), QStringLiteral("running"));
    QVERIFY2(run->Warnings().startsWith(path + QStringLiteral(":1: warning: the text sent does "
                                                              "not end with \";\"")),
             qPrintable(run->Warnings()));
    // The last line number shows whole, not only those in sight.
    QVERIFY(
        run->Steps()->columnWidth(CRunScriptDlg::kLineColumn) >=
        run->Steps()
            ->sizeHintForIndex(run->Steps()->model()->index(kSteps - 1, CRunScriptDlg::kLineColumn))
            .width());

    clock.restart();
    if (end == u"stop") {
        run->StopButton()->click();
    } else if (end == u"window") {
        run->close();
    } else if (end == u"lost") {
        module->CloseMaster();
        // The loss reaches the console from the event loop.
        QVERIFY(finished.wait(10000));
    } else {
        f.Close();
    }
    // The window answers once a pass of the event loop has run.
    QCoreApplication::processEvents();
    const qint64 endMs = clock.elapsed();
    qInfo("%d steps: loaded in %lld ms; ended (%s) and the window answered in %lld ms", kSteps,
          loadMs, qPrintable(end), endMs);
    // Wide for a loaded machine; it took a minute when each step left was marked on its own.
    QVERIFY2(loadMs < 2000, qPrintable(QString::number(loadMs)));
    QVERIFY2(endMs < 1000, qPrintable(QString::number(endMs)));
    if (summary.isEmpty())
        return;

    QCOMPARE(finished.size(), 1);
    const QString ran = QStringLiteral("1 step ran, 0 of them checks: ");
    QCOMPARE(run->Summary(), end == u"lost"
                                 ? QStringLiteral("2 steps ran, 1 of them a check: ") + summary
                                 : ran + summary);
    QVERIFY2(run->StepText(1, CRunScriptDlg::kStateColumn).startsWith(running),
             qPrintable(run->StepText(1, CRunScriptDlg::kStateColumn)));
    QCOMPARE(run->StepText(kSteps - 1, CRunScriptDlg::kStateColumn), rest);
    // The bar tells how many steps ran, not how many there were.
    QCOMPARE(run->Progress()->value(), end == u"lost" ? 2 : 1);
    QCOMPARE(run->Progress()->text(),
             QStringLiteral("%1 of %2 steps").arg(run->Progress()->value()).arg(kSteps));
}

QTEST_MAIN(RunScriptWindowTest)
#include "tst_run_script_window.moc"
