// A session on the virtual module's window recorded from its File menu: statements arrive over a
// real pseudo-terminal, the screen is touched, clicked, dragged and typed on, and the file then
// holds the steps in order and replays with orvexa-run; one changed expect fails its step.
#include "module/ModuleWindow.h"
#include "module/ScreenView.h"
#include "script/VirtualModule.h"
#include "scriptformat/Pattern.h"
#include "serial/CMSComm.h"
#include "tests/common/FileBytes.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/ScriptSession.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

QAction* RecordEntry(ModuleWindow& window)
{
    return MenuEntry(*window.menuBar(), QStringLiteral("Record Script..."));
}

// Chooses the entry and answers its file dialog with `path`.
bool StartRecording(ModuleWindow& window, const QString& path)
{
    QAction* entry = RecordEntry(window);
    if (!entry)
        return false;
    entry->trigger();
    return AnswerFileDialog(window, path) && entry->isChecked();
}

// The mark beside the counts that tells a recording is running; empty while none is.
QString RecordingMark(const ModuleWindow& window)
{
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->accessibleName() == QLatin1String("Recording"))
            return label->isVisibleTo(&window) ? label->text() : QString();
    return QStringLiteral("no mark");
}

QByteArrayList Lines(const QString& path)
{
    return ReadBytes(path).split('\n');
}

ReplayOutcome Replay(const QString& script, const QString& dataHome)
{
    return ReplayOnVirtualModule(QStringLiteral(ORVEXA_RUN_EXE), script, dataHome);
}

} // namespace

class TestModuleRecord : public QObject
{
    Q_OBJECT

private slots:
    void sessionReplays();
    void failedWriteIsToldOnce();
    void savedScreenBecomesAStep_data();
    void savedScreenBecomesAStep();
};

void TestModuleRecord::sessionReplays()
{
    TempConfigHome home;
    QTemporaryDir dir;
    VirtualModule module(dir.filePath(QStringLiteral("storage")));
    QCOMPARE(module.Open(), QString());
    ModuleWindow window(module.Engine(), QStringLiteral("COM9"));
    auto* screen = window.findChild<ScreenView*>();
    QVERIFY(screen);
    screen->setFixedSize(ModuleEngine::kWidth, ModuleEngine::kHeight); // 1:1
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(screen->ToScreen(QPointF(55.5, 55.5)), QPoint(55, 55));

    const QString path = dir.filePath(QStringLiteral("session.ots"));
    const QString title = window.windowTitle();
    QCOMPARE(RecordingMark(window), QString());
    QVERIFY(StartRecording(window, path));
    // Where the eye is, not only in the menu: the title and beside the counts.
    QCOMPARE(window.windowTitle(), title + QStringLiteral(" \u2014 recording to session.ots"));
    QVERIFY2(RecordingMark(window).contains(QStringLiteral("session.ots")),
             qPrintable(RecordingMark(window)));

    CMSComm console;
    console.SetDevicePath(module.DevicePath());
    console.SetSettings(QStringLiteral("230400,n,8,1"));
    console.SetPortOpen(true);
    const QByteArray statements =
        "MakeTestEnvironment;Button 1,20,40,90,70,'Press';Checkbox 2,200,40,260,70,'Check';"
        "XSlider 3,300,200,700,240,100;";
    console.SetOutput(statements);
    console.EndSend();
    QTRY_COMPARE(module.Engine().StatementCount(), qint64(4));

    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(55, 55));
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(230, 55));
    SendMouse(screen, QEvent::MouseButtonPress, QPoint(320, 220));
    SendMouse(screen, QEvent::MouseMove, QPoint(321, 220)); // the same value: nothing to repeat
    SendMouse(screen, QEvent::MouseMove, QPoint(500, 220));
    SendMouse(screen, QEvent::MouseMove, QPoint(600, 220));
    SendMouse(screen, QEvent::MouseButtonRelease, QPoint(600, 220));
    QTest::keyClick(screen, 'a');
    RecordEntry(window)->trigger();
    QVERIFY(!RecordEntry(window)->isChecked());
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(RecordingMark(window), QString());

    // Waits come only from a slow machine; a send may have come in two bursts.
    QByteArrayList steps;
    const QByteArrayList lines = Lines(path);
    QVERIFY(lines.size() > 2 && lines[0].startsWith("# Recorded on the virtual module COM9"));
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("wait "))
            continue;
        if (line.startsWith("send ") && !steps.isEmpty() && steps.back().startsWith("send "))
            steps.back() += line.mid(5);
        else
            steps.append(line);
    }
    const QByteArrayList expected{"send " + statements,
                                  "touch 55,55",
                                  "expect $on_click (down : ctrl 1) within 200",
                                  "expect $on_click (up : ctrl 1) within 200",
                                  "touch 230,55",
                                  "expect $on_check (on : ctrl 2) within 200",
                                  "press 320,220",
                                  "expect $on_position (ctrl 3 : *) within 200",
                                  "move 500,220",
                                  "expect $on_position (ctrl 3 : *) within 200",
                                  "move 600,220",
                                  "expect $on_position (ctrl 3 : *) within 200",
                                  "release 600,220",
                                  "key 97",
                                  "expect $on_key_press (ascii code=&H61) within 200"};
    QCOMPARE(steps.size(), expected.size());
    for (qsizetype i = 0; i < steps.size(); ++i)
        QVERIFY2(MatchesPattern(expected[i], steps[i]), steps[i].constData());

    const ReplayOutcome passing = Replay(path, dir.filePath(QStringLiteral("data")));
    QVERIFY2(passing.exit == 0 && passing.out.contains(QLatin1String("7 passed, 0 failed")),
             qPrintable(passing.out));

    // The checkbox was checked, not cleared: the replay fails on that step and only there.
    const qsizetype changed = lines.indexOf("expect $on_check (on : ctrl 2) within 200");
    QVERIFY(changed > 0);
    QByteArrayList edited = lines;
    edited[changed] = "expect $on_check (off : ctrl 2) within 200";
    QVERIFY(WriteBytes(path, edited.join('\n')));
    const ReplayOutcome failing = Replay(path, dir.filePath(QStringLiteral("data")));
    QVERIFY2(
        failing.exit == 1 && failing.out.contains(QLatin1String("6 passed, 1 failed")) &&
            failing.out.contains(
                QStringLiteral("FAIL %1:%2  expect $on_check (off").arg(path).arg(changed + 1)),
        qPrintable(failing.out));

    // Closing the module ends a recording too.
    const QString closed = dir.filePath(QStringLiteral("closed.ots"));
    QVERIFY(StartRecording(window, closed));
    console.SetOutput("Clear;");
    console.EndSend();
    QTRY_COMPARE(module.Engine().StatementCount(), qint64(5));
    window.close();
    QVERIFY(Lines(closed).contains("send Clear;"));
}

void TestModuleRecord::failedWriteIsToldOnce()
{
    QTemporaryDir dir;
    ModuleEngine engine(dir.path());
    ModuleWindow window(engine, QStringLiteral("COM9"));
    window.show();
    const QString title = window.windowTitle();
    const QString path = dir.filePath(QStringLiteral("old.ots"));
    QVERIFY(WriteBytes(path, "send Clear;\n"));

    QVERIFY(StartRecording(window, path));
    {
        const FileSizeLimit limit(4096);
        // Long enough that its first part is written at once, and fails.
        engine.Feed(QByteArray("PSet 1,1;").repeated(4000));
        engine.Feed(QByteArray("PSet 1,1;").repeated(4000));
        engine.KeyPress('a');
    }
    const auto boxes = [&window] {
        QList<QMessageBox*> shown = window.findChildren<QMessageBox*>();
        shown.removeIf([](const QMessageBox* box) { return !box->isVisible(); });
        return shown;
    };
    QCOMPARE(boxes().size(), 1);
    // The cause the disk gave, not a word standing for none.
    QVERIFY2(boxes()[0]->text().contains(path) &&
                 boxes()[0]->text().contains(QStringLiteral("File too large")),
             qPrintable(boxes()[0]->text()));
    QVERIFY(!RecordEntry(window)->isChecked());
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(RecordingMark(window), QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.ots")});
    QCOMPARE(Lines(path), (QByteArrayList{"send Clear;", ""}));
    window.close();
    QCOMPARE(boxes().size(), 1);
}

QTEST_MAIN(TestModuleRecord)
#include "tst_module_record.moc"

void TestModuleRecord::savedScreenBecomesAStep_data()
{
    QTest::addColumn<QString>("picture"); // under the test's folder; the script is in "scripts"
    QTest::addColumn<QString>("step");    // "" when it names the picture by its whole path

    QTest::newRow("beside the script") << "scripts/box.png"
                                       << "screen box.png";
    QTest::newRow("in a folder below") << "scripts/ref/box.png"
                                       << "screen ref/box.png";
    QTest::newRow("elsewhere") << "pictures/box.png"
                               << "";
}

void TestModuleRecord::savedScreenBecomesAStep()
{
    QFETCH(QString, picture);
    QFETCH(QString, step);
    TempConfigHome home;
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("scripts/ref")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("pictures")));
    VirtualModule module(dir.filePath(QStringLiteral("storage")));
    QCOMPARE(module.Open(), QString());
    ModuleWindow window(module.Engine(), QStringLiteral("COM9"));
    window.show();
    QAction* save = MenuEntry(*window.menuBar(), QStringLiteral("Save Screen..."));
    QVERIFY(save);

    const QString path = dir.filePath(QStringLiteral("scripts/session.ots"));
    QVERIFY(StartRecording(window, path));
    CMSComm console;
    console.SetDevicePath(module.DevicePath());
    console.SetSettings(QStringLiteral("230400,n,8,1"));
    console.SetPortOpen(true);
    console.SetOutput("MakeTestEnvironment;Color &H00FF00;BoxFill 100,100,300,200;");
    console.EndSend();
    QTRY_COMPARE(module.Engine().StatementCount(), qint64(3));
    const QString saved = dir.filePath(picture);
    save->trigger();
    QVERIFY(AnswerFileDialog(window, saved));
    QTRY_VERIFY(QFile::exists(saved));
    RecordEntry(window)->trigger();

    const QByteArrayList lines = Lines(path);
    const QByteArray expected = (step.isEmpty() ? "screen " + saved : step).toUtf8();
    QVERIFY2(lines.contains(expected), lines.join('\n').constData());
    const ReplayOutcome replay = Replay(path, dir.filePath(QStringLiteral("data")));
    QVERIFY2(replay.exit == 0 && replay.out.contains(QLatin1String("1 passed, 0 failed")),
             qPrintable(replay.out));

    // Another screen fails the step: the picture is the reference, not a mere copy.
    QImage changed(saved);
    changed.setPixel(150, 150, qRgb(0, 0, 255));
    QVERIFY(changed.save(saved));
    // Its pictures go beside the results, not into the test's folder.
    const ReplayOutcome failing = ReplayOnVirtualModule(
        QStringLiteral(ORVEXA_RUN_EXE), path, dir.filePath(QStringLiteral("data")),
        {QStringLiteral("--junit"), dir.filePath(QStringLiteral("results.xml"))});
    QVERIFY2(failing.exit == 1 && failing.out.contains(QLatin1String("1 pixels differ")),
             qPrintable(failing.out));
}
