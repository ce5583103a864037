// The runner as a window drives it: signals per step, Stop() in the middle of a wait, and the
// port still open and usable afterwards, against the virtual module over a real pseudo-terminal;
// and against a pseudo-terminal standing in for a module that floods reports or takes nothing.
#include "module/EventEncoder.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"
#include "serial/CMSComm.h"
#include "support/Paths.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using State = StepResult::State;
Q_DECLARE_METATYPE(ScriptRunner::Outcome)

namespace {

bool Open(CMSComm& comm, const QString& device, int speed)
{
    comm.SetDevicePath(device);
    comm.SetSettings(QStringLiteral("%1,n,8,1").arg(speed));
    comm.SetRThreshold(1);
    comm.SetInputMode(1);
    comm.SetPortOpen(true);
    return comm.GetPortOpen();
}

Script Parsed(const char* name, const QByteArray& text)
{
    Script script = ParseScript(text);
    script.path = QString::fromLatin1(name);
    return script;
}

} // namespace

class ScriptRunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void stopEndsAtOnceAndKeepsThePort();
    void eachReportIsMatchedOnce();
    void sendThePortDoesNotTake();
};

void ScriptRunnerTest::stopEndsAtOnceAndKeepsThePort()
{
    TempConfigHome home;
    QTemporaryDir storage;
    VirtualModule module(storage.path());
    QCOMPARE(module.Open(), QString());
    // A module inside the runner is no port of the console.
    QVERIFY(QDir(GetPortFolderPath()).isEmpty());
    CMSComm comm;
    QVERIFY(Open(comm, module.DevicePath(), 230400));
    SeededRandom rng(1);
    ScriptRunner runner(comm, rng, &module);
    runner.ReadPort();
    QSignalSpy finished(&runner, &ScriptRunner::Finished);
    QSignalSpy stepFinished(&runner, &ScriptRunner::StepFinished);
    QSignalSpy skipped(&runner, &ScriptRunner::StepsSkipped);

    const Script waiting = Parsed("w.ots", "key 65\nexpect $on_key*\n"
                                           "expect-none $on_* for 600000\n"
                                           "wait 1\nwait 2\n");
    runner.Start(waiting);
    QSignalSpy started(&runner, &ScriptRunner::StepStarted);
    QTRY_VERIFY_WITH_TIMEOUT(!started.isEmpty() && started.last().at(0).toInt() == 2, 10000);
    runner.Stop();
    // Stopping is immediate: no event loop pass is needed to end the run.
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<ScriptRunner::Outcome>(), ScriptRunner::Outcome::Stopped);
    QVERIFY(!runner.IsRunning());
    QCOMPARE(stepFinished.size(), 3);
    QCOMPARE(stepFinished[1].at(1).value<StepResult>().state, State::Passed);
    QVERIFY(stepFinished[1].at(1).value<StepResult>().latencyMs >= 0);
    QCOMPARE(stepFinished[2].at(1).value<StepResult>().state, State::Skipped);
    // The steps never started, in one signal.
    QCOMPARE(skipped.size(), 1);
    QCOMPARE(skipped[0], (QVariantList{3, 2, QStringLiteral("stopped")}));
    QCOMPARE(runner.Counts().ran, 2);
    QCOMPARE(runner.Counts().checks, 1);
    QCOMPARE(runner.Counts().skipped, 3);
    QVERIFY(comm.GetPortOpen());

    // The same port runs the next script; what the stopped one left is not its answer.
    const Script next = Parsed("n.ots", "send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n"
                                        "touch 50,50\nexpect $on_click (down : ctrl 1)\n");
    runner.Start(next);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    QCOMPARE(finished.last().at(0).value<ScriptRunner::Outcome>(), ScriptRunner::Outcome::Passed);
}

void ScriptRunnerTest::eachReportIsMatchedOnce()
{
    PseudoTerminal module;
    QVERIFY(module.isOpen());
    CMSComm comm;
    QVERIFY(Open(comm, module.devicePath(), 115200));
    SeededRandom rng(1);
    ScriptRunner runner(comm, rng, nullptr);
    runner.ReadPort();
    QSignalSpy reports(&runner, &ScriptRunner::ReportReceived);
    QSignalSpy stepFinished(&runner, &ScriptRunner::StepFinished);
    QSignalSpy finished(&runner, &ScriptRunner::Finished);

    const Script script =
        Parsed("f.ots", "expect $on_click* within 60000\nexpect $on_key* within 60000\n");
    runner.Start(script);
    // A flood the first expect passes over, read by read while it waits.
    const QByteArray key = EncodeReport(0x85, {false, {0x41}}, ReportForm::Text);
    constexpr int kBatches = 10, kPerBatch = 10;
    for (int batch = 1; batch <= kBatches; ++batch) {
        QVERIFY(module.Write(key.repeated(kPerBatch)));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), batch * kPerBatch, 10000);
    }
    QCOMPARE(runner.PatternChecks(), kBatches * kPerBatch);
    // The click ends the first expect; the second looks only past it, and finds the key after.
    QVERIFY(module.Write(EncodeReport(0x81, {true, {1}}, ReportForm::Binary) + key));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished[0].at(0).value<ScriptRunner::Outcome>(), ScriptRunner::Outcome::Passed);
    QCOMPARE(runner.PatternChecks(), kBatches * kPerBatch + 2);
}

void ScriptRunnerTest::sendThePortDoesNotTake()
{
    PseudoTerminal module; // never read: the terminal fills, then takes nothing
    QVERIFY(module.isOpen());
    CMSComm comm;
    QVERIFY(Open(comm, module.devicePath(), 4000000));
    SeededRandom rng(1);
    ScriptRunner runner(comm, rng, nullptr);
    QSignalSpy stepFinished(&runner, &ScriptRunner::StepFinished);
    const QByteArray send = "send " + QByteArray("PSet 1,1;").repeated(6000) + '\n';
    const Script script = Parsed("s.ots", send.repeated(6));
    runner.Start(script);
    // The limit is reckoned at the port's own speed: the slack and twice the line time.
    QTRY_VERIFY_WITH_TIMEOUT(!stepFinished.isEmpty() &&
                                 stepFinished.last().at(1).value<StepResult>().state ==
                                     State::Failed,
                             30000);
    const QString reason = stepFinished.last().at(1).value<StepResult>().reason;
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^the port took (\\d+) of (\\d+) bytes in (\\d+) ms; "
                                          "the limit for them at 4000000 bit/s is (\\d+) ms$"))
            .match(reason);
    QVERIFY2(match.hasMatch(), qPrintable(reason));
    QVERIFY(match.captured(1).toLongLong() < match.captured(2).toLongLong());
    // What was seen is told apart from the limit: the time is the time waited.
    QVERIFY(match.captured(3).toInt() >= match.captured(4).toInt());
    QVERIFY(match.captured(4).toInt() < 5000 + 2 * 54000 * 10 / 4000 + 1);
    runner.Stop();
}

QTEST_MAIN(ScriptRunnerTest)
#include "tst_script_runner.moc"
