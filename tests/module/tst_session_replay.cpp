// One session recorded twice: the real console, offscreen, drives the virtual module's window over
// a real pseudo-terminal while the module records from its File menu and the console from its
// receive view's menu. The module's file replays with orvexa-run; the console's file holds what
// went over the line, in order.
#include "module/ModuleWindow.h"
#include "module/ScreenView.h"
#include "scriptformat/Pattern.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/ConsoleWithModule.h"
#include "tests/common/ScriptSession.h"

#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>

namespace {

struct Steps
{
    QByteArrayList steps; // a run of sends joined into one, as bursts may split differently
    QByteArray sent;
};

// Comments, waits and time bounds depend on who recorded and how loaded the machine was; they
// are left out.
Steps ReadSteps(const QString& path)
{
    Steps read;
    for (QByteArray line : ReadBytes(path).split('\n')) {
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("wait "))
            continue;
        if (line.startsWith("send ")) {
            read.sent += line.mid(5);
            if (!read.steps.isEmpty() && read.steps.back().startsWith("send ")) {
                read.steps.back() += line.mid(5);
                continue;
            }
        } else if (line.startsWith("expect ")) {
            line.truncate(line.lastIndexOf(" within "));
        }
        read.steps.append(line);
    }
    return read;
}

bool HasControl(const ModuleEngine& engine, int id)
{
    const auto& all = engine.Controls().All();
    return std::any_of(all.begin(), all.end(), [id](const auto& c) { return c.id == id; });
}

} // namespace

class SessionReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void recordedTwiceReplays();
};

void SessionReplayTest::recordedTwiceReplays()
{
    QByteArray received; // by the module, from the console
    QByteArrayList reports;
    ConsoleWithModule f;
    QTemporaryDir dir;
    ModuleEngine& engine = f.engine;
    // As the module program does, which is what replays the module's recording.
    connect(&f.line, &ModuleLine::LineIdle, &engine, &ModuleEngine::LineIdle);
    ModuleWindow window(engine, QStringLiteral("COM9"));
    auto* screen = window.findChild<ScreenView*>();
    QVERIFY(screen);
    screen->setFixedSize(ModuleEngine::kWidth, ModuleEngine::kHeight); // 1:1
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(screen->ToScreen(QPointF(55.5, 55.5)), QPoint(55, 55));

    // The console goes first, as its window would close before a module it is talking to.
    const auto closeConsoleFirst = qScopeGuard([&f] { f.console.reset(); });
    QCOMPARE(f.Open(), QString());

    const QString modulePath = dir.filePath(QStringLiteral("module.ots"));
    QAction* moduleEntry = MenuEntry(*window.menuBar(), QStringLiteral("Record Script..."));
    QVERIFY(moduleEntry);
    moduleEntry->trigger();
    QVERIFY(AnswerFileDialog(window, modulePath));
    QVERIFY(moduleEntry->isChecked());
    const auto receive = f.Get<ReceiveView>(ids::kReceive);
    const auto toggleConsoleRecording = [receive] {
        receive->CreateContextMenu()->actions().last()->trigger();
    };
    const QString consolePath = dir.filePath(QStringLiteral("console.ots"));
    toggleConsoleRecording();
    QVERIFY(AnswerFileDialog(*f.console, consolePath));
    QVERIFY(f.console->Scripts().IsRecording());

    connect(&engine, &ModuleEngine::Receiving, this,
            [&received](QByteArrayView bytes) { received += bytes.toByteArray(); });
    connect(&engine, &ModuleEngine::ReportReady, this,
            [&reports](const QByteArray& report) { reports.append(report); });

    f.Click(ids::kLine);
    f.Click(ids::kButtonCtrl); // "Button 1,20,40,90,70"
    QTRY_VERIFY(HasControl(engine, 1));
    const QByteArray buttons = received;
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(55, 55));
    // A person reads the answer before going on; so the console's file has it before the next send.
    QTRY_VERIFY(receive->toPlainText().contains(QStringLiteral("$on_click (up : ctrl 1)")));

    const QByteArray typed = "Checkbox 2,200,40,260,70,'Check';XSlider 3,300,200,700,240,100;";
    f.Transmit()->setPlainText(QString::fromLatin1(typed));
    f.Click(ids::kSend);
    QTRY_VERIFY(HasControl(engine, 3));
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(230, 55));
    SendMouse(screen, QEvent::MouseButtonPress, QPoint(320, 220));
    SendMouse(screen, QEvent::MouseMove, QPoint(500, 220));
    SendMouse(screen, QEvent::MouseButtonRelease, QPoint(500, 220));
    QTest::keyClick(screen, 'a');
    QTRY_VERIFY2(receive->toPlainText().contains(QStringLiteral("$on_key_press")),
                 qPrintable(receive->toPlainText()));

    toggleConsoleRecording();
    QVERIFY(!f.console->Scripts().IsRecording());
    moduleEntry->trigger();
    QVERIFY(!moduleEntry->isChecked());

    const Steps module = ReadSteps(modulePath);
    const QByteArrayList expected{"send " + buttons,
                                  "touch 55,55",
                                  "expect $on_click (down : ctrl 1)",
                                  "expect $on_click (up : ctrl 1)",
                                  "send " + typed,
                                  "touch 230,55",
                                  "expect $on_check (on : ctrl 2)",
                                  "press 320,220",
                                  "expect $on_position (ctrl 3 : *)",
                                  "move 500,220",
                                  "expect $on_position (ctrl 3 : *)",
                                  "release 500,220",
                                  "key 97",
                                  "expect $on_key_press (ascii code=&H61)"};
    QCOMPARE(module.steps.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(MatchesPattern(expected[i], module.steps[i]), module.steps[i].constData());
    QCOMPARE(module.sent, received);

    const QString runner = QStringLiteral(ORVEXA_RUN_EXE);
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString junit = dir.filePath(QStringLiteral("results.xml"));
    const ReplayOutcome passing =
        ReplayOnVirtualModule(runner, modulePath, data, {QStringLiteral("--junit"), junit});
    QVERIFY2(passing.exit == 0 && passing.out.contains(QLatin1String("6 passed, 0 failed")),
             qPrintable(passing.out));
    const QByteArray results = ReadBytes(junit);
    QVERIFY2(results.contains("tests=\"6\" failures=\"0\" errors=\"0\" skipped=\"0\""),
             results.constData());

    // The console saw the same session from the other end of the line.
    const Steps console = ReadSteps(consolePath);
    QByteArrayList overTheLine = module.steps;
    overTheLine.removeIf([](const QByteArray& step) {
        return !step.startsWith("send ") && !step.startsWith("expect ");
    });
    QCOMPARE(console.steps, overTheLine);
    QCOMPARE(console.sent, received);
    QCOMPARE(console.steps.size() - 2, reports.size()); // every report, once

    // The checkbox was checked, not cleared: the replay fails on that step and only there.
    QByteArrayList lines = ReadBytes(modulePath).split('\n');
    const auto checked = std::find_if(lines.begin(), lines.end(), [](const QByteArray& line) {
        return line.startsWith("expect $on_check (on : ctrl 2)");
    });
    QVERIFY(checked != lines.end());
    checked->replace("(on :", "(off :");
    const qsizetype changed = checked - lines.begin();
    QVERIFY(WriteBytes(modulePath, lines.join('\n')));
    const ReplayOutcome failing = ReplayOnVirtualModule(runner, modulePath, data);
    QVERIFY2(failing.exit == 1 && failing.out.contains(QLatin1String("5 passed, 1 failed")) &&
                 failing.out.contains(QStringLiteral("FAIL %1:%2  expect $on_check (off")
                                          .arg(modulePath)
                                          .arg(changed + 1)),
             qPrintable(failing.out));
}

QTEST_MAIN(SessionReplayTest)
#include "tst_session_replay.moc"
