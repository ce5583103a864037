// The console's scripts against the virtual module over a real pseudo-terminal: a session
// recorded at the console, and scripts run from the console's Run Script window.
#include "app/RunScriptDlg.h"
#include "results/LatencyStats.h"
#include "script/ScriptRecorder.h"
#include "scriptformat/Script.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/ConsoleWithModule.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/ScriptSession.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {

constexpr QByteArrayView kButton = "Button 1,20,40,90,70,'Press';";
constexpr QPoint kOnButton{55, 55};

QString StepState(CRunScriptDlg* run, int step)
{
    return run->StepText(step, CRunScriptDlg::kStateColumn);
}

} // namespace

class ConsoleScriptTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void recordedSessionReplays();
    void runScript_data();
    void runScript();
    void runAgainShowsMediansAndSavesTheReport();
    void stopEndsTheRunAndKeepsThePort();
    void closingTheConsoleFinishesTheRecording();
    void aFullDiskEndsTheRecordingAtOnce();
    void recordingHoldsRunScriptsAndSendFilesSends();

private:
    QString Received() const { return m_f->Get<ReceiveView>(ids::kReceive)->toPlainText(); }
    QString Mark() const { return m_f->Get<ReceiveView>(ids::kReceive)->StatusMark(); }
    QString WriteScript(const QByteArray& text) const;
    void Touch() const
    {
        m_f->engine.Press(kOnButton);
        m_f->engine.Release(kOnButton);
    }

    std::unique_ptr<ConsoleWithModule> m_f;
    QTemporaryDir m_storage;
};

void ConsoleScriptTest::init()
{
    m_f = std::make_unique<ConsoleWithModule>();
    QCOMPARE(m_f->Open(), QString());
}

void ConsoleScriptTest::cleanup()
{
    m_f.reset();
}

QString ConsoleScriptTest::WriteScript(const QByteArray& text) const
{
    const QString path = m_storage.filePath(QStringLiteral("run.ots"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return {};
    return path;
}

void ConsoleScriptTest::recordedSessionReplays()
{
    const QString path = m_storage.filePath(QStringLiteral("session.ots"));
    const QString title = m_f->console->windowTitle();
    QVERIFY(m_f->console->Scripts().StartRecording(path));
    // Where the eye is: the title and the receive view.
    QCOMPARE(m_f->console->windowTitle(),
             title + QStringLiteral(" \u2014 recording to session.ots"));
    QVERIFY2(Mark().contains(QStringLiteral("session.ots")), qPrintable(Mark()));
    {
        const auto menu = m_f->Get<ReceiveView>(ids::kReceive)->CreateContextMenu();
        const QList<QAction*> actions = menu->actions();
        QVERIFY(actions.last()->text().startsWith(QStringLiteral("Record Script...")));
        QVERIFY(actions.last()->isChecked());
    }

    m_f->Transmit()->setPlainText(QString::fromLatin1(kButton));
    m_f->Click(ids::kSend);
    QTRY_COMPARE(m_f->engine.Controls().All().size(), std::size_t(1));
    // A person reaching for the module: past the time within which a report answers a send.
    QTest::qWait(ScriptRecorder::kAnswerWindowMs + 300);
    Touch();
    QTRY_VERIFY2(Received().contains(QStringLiteral("$on_click (up : ctrl 1)")),
                 qPrintable(Received()));
    m_f->Click(ids::kClear);
    QTRY_COMPARE(m_f->engine.StatementCount(), 3);
    // Closing the port finishes the recording.
    m_f->Click(ids::kClose);
    QVERIFY(!m_f->console->Scripts().IsRecording());
    QCOMPARE(m_f->console->windowTitle(), title);
    QCOMPARE(Mark(), QString());

    const ParseOutcome recorded = LoadScript(path);
    QVERIFY(recorded.errors.empty());
    QStringList steps;
    for (const ScriptStep& step : recorded.steps)
        steps << recorded.Source(step);
    QCOMPARE(steps, (QStringList{QStringLiteral("send ") + QString::fromLatin1(kButton),
                                 "expect $on_click (down : ctrl 1) within 30000",
                                 "expect $on_click (up : ctrl 1) within 200", "send Clear;"}));
    QVERIFY(
        m_f->Get<ReceiveView>(ids::kReceive)->CreateContextMenu()->actions().last()->isEnabled() ==
        false);

    // The recording runs from Run Script, with the touch its comment asks for.
    m_f->Click(ids::kOpen);
    QTRY_COMPARE(m_f->engine.StatementCount(), 4);
    CRunScriptDlg* run = m_f->console->Scripts().RunScriptFile(path);
    QVERIFY(run);
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    QTRY_COMPARE(StepState(run, 1), QStringLiteral("running"));
    QTRY_COMPARE(m_f->engine.StatementCount(), 5); // the touch finds the button
    Touch();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().value<ScriptRunner::Outcome>(),
             ScriptRunner::Outcome::Passed);
    QCOMPARE(run->Summary(), QStringLiteral("4 steps ran, 2 of them checks: 2 passed, 0 failed"));
    QCOMPARE(run->Progress()->value(), 4);
}

void ConsoleScriptTest::runScript_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("refusal");

    const QByteArray send = "send " + kButton.toByteArray() + "\n";
    QTest::newRow("passes") << send + "expect $on_click (down : ctrl 1) within 30000\n"
                                      "expect $on_click (up : ctrl 1)\n"
                            << "3 steps ran, 2 of them checks: 2 passed, 0 failed" << QString();
    QTest::newRow("fails on the report that does not match")
        << send + "expect $on_click (down : ctrl 2) within 1000\n"
                  "expect $on_click (up : ctrl 1)\n"
        << "3 steps ran, 2 of them checks: 1 passed, 1 failed" << QString();
    QTest::newRow("refuses a step only the virtual module can do")
        << send + "touch 55,55\n"
        << QString() << "run.ots:2: \"touch 55,55\" needs the virtual module";
}

void ConsoleScriptTest::runScript()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, summary);
    QFETCH(QString, refusal);
    const QString path = WriteScript(script);
    QVERIFY(!path.isEmpty());
    CRunScriptDlg* run = m_f->console->Scripts().RunScriptFile(path);
    if (!refusal.isEmpty()) {
        QVERIFY(!run);
        QCOMPARE(m_f->MessageBoxes().size(), 1);
        QVERIFY2(m_f->MessageBoxes().first()->text().contains(refusal),
                 qPrintable(m_f->MessageBoxes().first()->text()));
        QCOMPARE(m_f->engine.StatementCount(), 1); // nothing was sent
        return;
    }
    QVERIFY(run);
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    QTRY_COMPARE(StepState(run, 1), QStringLiteral("running"));
    QTRY_COMPARE(m_f->engine.StatementCount(), 2);
    Touch();
    QVERIFY(finished.wait(10000));
    QCOMPARE(run->Summary(), summary);
    QVERIFY2(StepState(run, 0).startsWith(QStringLiteral("passed, ")),
             qPrintable(StepState(run, 0)));
    if (summary.contains(QStringLiteral(" 1 failed")))
        QCOMPARE(StepState(run, 1), QStringLiteral("failed: no report matched within 1000 ms"));
    // The traffic showed in the receive view as usual.
    QVERIFY(Received().contains(QStringLiteral("$on_click (up : ctrl 1)")));
}

// A script run three times from its window: each expect's median over the runs, and the report of
// them all written where the file dialog says.
void ConsoleScriptTest::runAgainShowsMediansAndSavesTheReport()
{
    const QString path = WriteScript("send " + kButton.toByteArray() +
                                     "\nexpect $on_click (down : ctrl 1) within 30000\n"
                                     "expect $on_click (up : ctrl 1)\n");
    CRunScriptDlg* run = m_f->console->Scripts().RunScriptFile(path);
    QVERIFY(run);
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    for (int round = 1; round <= 3; ++round) {
        if (round > 1) {
            QVERIFY(run->AgainButton()->isEnabled());
            run->AgainButton()->click();
        }
        QVERIFY(!run->AgainButton()->isEnabled());
        QTRY_COMPARE(StepState(run, 1), QStringLiteral("running"));
        QTRY_COMPARE(m_f->engine.StatementCount(), 1 + round);
        Touch();
        QVERIFY(finished.wait(10000));
        QCOMPARE(run->Summary(),
                 QStringLiteral("3 steps ran, 2 of them checks: 2 passed, 0 failed"));
    }

    const RunResults& results = run->Results();
    QCOMPARE(results.runs.size(), std::size_t(3));
    std::vector<double> latencies;
    for (const ScriptRun& each : results.runs) {
        QCOMPARE(each.steps.size(), std::size_t(3));
        latencies.push_back(each.steps[2].latencyMs);
    }
    QCOMPARE(run->StepText(0, CRunScriptDlg::kP50Column), QString());
    QCOMPARE(run->StepText(2, CRunScriptDlg::kP50Column),
             FormatMs(SummarizeLatencies(latencies).p50) + QStringLiteral(" ms"));
    QVERIFY(!run->StepText(1, CRunScriptDlg::kP50Column).isEmpty());

    QVERIFY(run->SaveReportButton()->isEnabled());
    const QString report = m_storage.filePath(QStringLiteral("run.html"));
    run->SaveReportButton()->click();
    QVERIFY(AnswerFileDialog(*run, report));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    QVERIFY2(html.contains("6 passed, 0 failed, 0 skipped; 3 script runs on 1 port"),
             html.left(3000).constData());
    QVERIFY(html.contains("Button 1,20,40,90,70,&#39;Press&#39;;")); // in the transcript

    // A report that does not fit on the disk says so, and the one written before stays whole.
    run->SaveReportButton()->click();
    {
        const FileSizeLimit limit(4096);
        QVERIFY(limit.set);
        QVERIFY(AnswerFileDialog(*run, report));
    }
    QTRY_COMPARE(m_f->MessageBoxes().size(), 1);
    QVERIFY2(m_f->MessageBoxes().first()->text().startsWith(
                 QStringLiteral("The report could not be written to \"%1\": ").arg(report)),
             qPrintable(m_f->MessageBoxes().first()->text()));
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), html);
}

void ConsoleScriptTest::stopEndsTheRunAndKeepsThePort()
{
    const QString path = WriteScript("send Clear;\nexpect $on_nothing within 600000\n");
    CRunScriptDlg* run = m_f->console->Scripts().RunScriptFile(path);
    QVERIFY(run);
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    QTRY_COMPARE(StepState(run, 1), QStringLiteral("running"));
    QTRY_COMPARE(m_f->engine.StatementCount(), 2);

    QElapsedTimer stopping;
    stopping.start();
    run->StopButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 100);
    QVERIFY(stopping.elapsed() < 100);
    QCOMPARE(run->Summary(),
             QStringLiteral("1 step ran, 0 of them checks: 0 passed, 0 failed; 1 skipped; nothing "
                            "was checked (stopped)"));

    QVERIFY(m_f->console->Comm().GetPortOpen());
    m_f->Click(ids::kClear);
    QTRY_COMPARE(m_f->engine.StatementCount(), 3);
}

void ConsoleScriptTest::closingTheConsoleFinishesTheRecording()
{
    const QString path = m_storage.filePath(QStringLiteral("closed.ots"));
    QVERIFY(m_f->console->Scripts().StartRecording(path));
    m_f->Click(ids::kClear);
    QTRY_COMPARE(m_f->engine.StatementCount(), 2);
    m_f->Close();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("send Clear;\n"));
}

// The cause is told as the write fails, not at Stop, and the recording is over then: the title
// says so, the old script stays, and closing the port tells nothing more.
void ConsoleScriptTest::aFullDiskEndsTheRecordingAtOnce()
{
    QTemporaryDir scripts;
    const QString path = scripts.filePath(QStringLiteral("old.ots"));
    QVERIFY(WriteBytes(path, "send Clear;\n"));
    const QString title = m_f->console->windowTitle();
    QVERIFY(m_f->console->Scripts().StartRecording(path));
    m_f->Transmit()->setPlainText(QString(QByteArray("PSet 1,1;").repeated(1000)));
    {
        const FileSizeLimit limit(4096);
        QVERIFY(limit.set);
        m_f->Click(ids::kSend);
    }
    QCOMPARE(m_f->MessageBoxes().size(), 1);
    const QString shown = m_f->MessageBoxes()[0]->text();
    QVERIFY2(shown.contains(path) && shown.contains(QStringLiteral("File too large")),
             qPrintable(shown));
    QVERIFY(!m_f->console->Scripts().IsRecording());
    QCOMPARE(m_f->console->windowTitle(), title);
    QCOMPARE(Mark(), QString());
    QCOMPARE(QDir(scripts.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("old.ots")});
    m_f->DismissMessageBoxes();
    m_f->Click(ids::kClose);
    QCOMPARE(m_f->MessageBoxes().size(), 0);
    QCOMPARE(ReadBytes(path), QByteArray("send Clear;\n"));
}

// What Run Script and Send File put on the line is recorded too, so the script repeats the session.
void ConsoleScriptTest::recordingHoldsRunScriptsAndSendFilesSends()
{
    const QString path = m_storage.filePath(QStringLiteral("whole.ots"));
    QVERIFY(m_f->console->Scripts().StartRecording(path));

    CRunScriptDlg* run =
        m_f->console->Scripts().RunScriptFile(WriteScript("send Clear;\nsend Line 1,1,2,2;\n"));
    QVERIFY(run);
    QSignalSpy finished(run, &CRunScriptDlg::Finished);
    QVERIFY(finished.wait(10000));
    QTRY_COMPARE(m_f->engine.StatementCount(), 3);

    const QString sent = m_storage.filePath(QStringLiteral("s.txt"));
    QVERIFY(WriteBytes(sent, "Line 3,3,4,4;Clear;"));
    const QList<QAction*> entries = m_f->Transmit()->actions();
    QVERIFY(!entries.isEmpty());
    entries[0]->trigger();
    QFileDialog* chooser = nullptr;
    QTRY_VERIFY((chooser = m_f->console->findChild<QFileDialog*>()) != nullptr);
    chooser->selectFile(sent);
    static_cast<QDialog*>(chooser)->accept();
    QTRY_COMPARE(m_f->engine.StatementCount(), 5);
    QTRY_VERIFY(Received().contains(QStringLiteral("[Send File: 19 bytes of s.txt were sent]")));

    m_f->console->Scripts().StopRecording();
    QCOMPARE(ReadBytes(path),
             QByteArray("send Clear;\n"
                        "send Line 1,1,2,2;\n"
                        "# Send File: s.txt, 19 bytes; the sends below repeat it block by block.\n"
                        "send Line 3,3,4,4;Clear;\n"
                        "# Send File: 19 bytes of s.txt were sent\n"));
}

QTEST_MAIN(ConsoleScriptTest)
#include "tst_console_script.moc"
