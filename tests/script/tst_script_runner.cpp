// The runner as a window drives it: signals per step, Stop() in the middle of a wait, and the
// port still open and usable afterwards, against the virtual module over a real pseudo-terminal.
#include "app/serial/CMSComm.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"
#include "support/Paths.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using State = StepResult::State;
Q_DECLARE_METATYPE(ScriptRunner::Outcome)

class ScriptRunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void stopEndsAtOnceAndKeepsThePort();
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
    comm.SetDevicePath(module.DevicePath());
    comm.SetSettings(QStringLiteral("230400,n,8,1"));
    comm.SetRThreshold(1);
    comm.SetInputMode(1);
    comm.SetPortOpen(true);
    SeededRandom rng(1);
    ScriptRunner runner(comm, rng, &module);
    runner.ReadPort();
    QSignalSpy finished(&runner, &ScriptRunner::Finished);

    Script waiting{QStringLiteral("w.ots"), ParseScript("key 65\nexpect $on_key*\n"
                                                        "expect-none $on_* for 600000\n"
                                                        "wait 1\n")
                                                .steps};
    runner.Start(waiting);
    QSignalSpy started(&runner, &ScriptRunner::StepStarted);
    QTRY_VERIFY_WITH_TIMEOUT(!started.isEmpty() && started.last().at(0).toInt() == 2, 10000);
    runner.Stop();
    // Stopping is immediate: no event loop pass is needed to end the run.
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).value<ScriptRunner::Outcome>(), ScriptRunner::Outcome::Stopped);
    QVERIFY(!runner.IsRunning());
    const std::vector<StepResult>& results = runner.Results();
    QCOMPARE(results[0].state, State::Passed);
    QCOMPARE(results[1].state, State::Passed);
    QVERIFY(results[1].latencyMs >= 0);
    QCOMPARE(results[2].state, State::Skipped);
    QCOMPARE(results[3].state, State::Skipped);
    QVERIFY(comm.GetPortOpen());

    // The same port runs the next script; what the stopped one left is not its answer.
    Script next{QStringLiteral("n.ots"),
                ParseScript("send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n"
                            "touch 50,50\nexpect $on_click (down : ctrl 1)\n")
                    .steps};
    runner.Start(next);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    QCOMPARE(finished.last().at(0).value<ScriptRunner::Outcome>(), ScriptRunner::Outcome::Passed);
}

QTEST_MAIN(ScriptRunnerTest)
#include "tst_script_runner.moc"
