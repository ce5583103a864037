// The module as a program and a window: the executable publishes its port, draws what arrives,
// writes its snapshot and removes its link when terminated; the window names its screen and
// counts for scripts and screen readers, and its screen turns mouse clicks into touches; a
// killed module's number is taken back, and a wrong call exits 2.
#include "module/ModuleEngine.h"
#include "module/ModuleWindow.h"
#include "module/ScreenView.h"
#include "support/Paths.h"
#include "tests/common/TempConfigHome.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

class ModuleProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void programDrawsAndCleansUpOnTerminate();
    void windowShowsCountsAndRoutesClicks();
    void clicksLandOnThePixelUnderThem_data();
    void clicksLandOnThePixelUnderThem();
    void lastStatementsFollowTheEngine_data();
    void lastStatementsFollowTheEngine();
    void countsReadThroughAccessibility_data();
    void countsReadThroughAccessibility();
    void killedModulesNumberIsTakenBack_data();
    void killedModulesNumberIsTakenBack();
    void wrongCallsExit_data();
    void wrongCallsExit();
    void answerDelayHoldsEachStatement_data();
    void answerDelayHoldsEachStatement();
};

namespace {

QProcessEnvironment ModuleEnvironment(const QString& dataHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// Starts the module and returns its "COM<n> <device>" line; empty when it did not start.
QByteArray StartModule(QProcess& module, const QString& dataHome, const QStringList& arguments)
{
    module.setProcessEnvironment(ModuleEnvironment(dataHome));
    module.start(QStringLiteral(ORVEXA_MODULE_EXE), arguments);
    if (!module.waitForReadyRead(10000))
        return {};
    return module.readLine().trimmed();
}

QAccessibleInterface* FindAccessible(QAccessibleInterface* in, const QString& name,
                                     QAccessible::Role role)
{
    if (in->role() == role && in->text(QAccessible::Name) == name &&
        !in->text(QAccessible::Description).isEmpty())
        return in;
    for (int i = 0; i < in->childCount(); ++i)
        if (QAccessibleInterface* child = in->child(i))
            if (QAccessibleInterface* found = FindAccessible(child, name, role))
                return found;
    return nullptr;
}

} // namespace

void ModuleProgramTest::programDrawsAndCleansUpOnTerminate()
{
    TempConfigHome home;
    QTemporaryDir data;
    QTemporaryDir runtime; // private, as Qt wants it, so Qt has nothing to say about it
    const QString snapshot = data.filePath(QStringLiteral("screen.png"));
    QProcess module;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    module.setProcessEnvironment(environment);
    module.start(QStringLiteral(ORVEXA_MODULE_EXE),
                 {QStringLiteral("--port"), QStringLiteral("5"), QStringLiteral("--no-pacing"),
                  QStringLiteral("--snapshot"), snapshot});
    QVERIFY(module.waitForReadyRead(10000));
    QVERIFY(module.readLine().startsWith("COM5 /dev/pts/"));
    const QString entry = GetPortFolderPath() + QStringLiteral("/COM5");
    QVERIFY(QFileInfo(entry).isSymLink());
    QVERIFY(QFileInfo::exists(data.filePath(QStringLiteral("OrvexaLCD Module/14.bmp"))));

    // The device is the one the module this test started created.
    const int line = ::open(QFile::encodeName(entry).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(line >= 0);
    // "dump 1" answers on standard error once the two statements before it have run.
    const QByteArray statements = "Color &HFF0000;BoxFill 380,220,420,260;dump 1;";
    QCOMPARE(::write(line, statements.constData(), size_t(statements.size())),
             ssize_t(statements.size()));
    QByteArray diagnostics;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (diagnostics += module.readAllStandardError()).contains("dump: 2 statements, 0 unknown"),
        diagnostics.constData(), 10000);
    module.terminate(); // SIGTERM
    QVERIFY(module.waitForFinished(10000));
    ::close(line);
    QCOMPARE(module.exitStatus(), QProcess::NormalExit);
    QCOMPARE(module.exitCode(), 0);
    // Asked for nothing else, the module says nothing else.
    diagnostics += module.readAllStandardError();
    QVERIFY2(diagnostics.startsWith("dump: ") && diagnostics.count('\n') == 1,
             diagnostics.constData());
    QVERIFY(!QFileInfo(entry).isSymLink());
    QCOMPARE(QColor(QImage(snapshot).pixel(400, 240)), QColor(Qt::red));
}

void ModuleProgramTest::windowShowsCountsAndRoutesClicks()
{
    QTemporaryDir storage;
    ModuleEngine engine(storage.path());
    ModuleWindow window(engine, QStringLiteral("COM3"));
    window.show();
    engine.Feed("Button 1,20,40,90,70,'Press';Line 1,2;");
    QSignalSpy reports(&engine, &ModuleEngine::ReportReady);

    QWidget* screen = nullptr;
    for (QWidget* w : window.findChildren<QWidget*>())
        if (w->accessibleName() == QLatin1String("Screen"))
            screen = w;
    QVERIFY(screen);
    screen->resize(ModuleEngine::kWidth / 2, ModuleEngine::kHeight / 2); // a small desktop
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(25, 28));
    // Down and up on the button, found at half scale.
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0][0].toByteArray().toHex(), QByteArray("0281010100000003"));
    QTest::keyClick(screen, 'a');
    QCOMPARE(reports.size(), 3);

    const QMap<QString, QString> expected{{"Port", "COM3"},
                                          {"Statements", "1"},
                                          {"Unknown statements", "1"},
                                          {"Bytes received", "38"},
                                          {"Events sent", "3"}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QLabel* label = nullptr;
        for (QLabel* l : window.findChildren<QLabel*>())
            if (l->accessibleName() == it.key())
                label = l;
        QVERIFY2(label, qPrintable(it.key()));
        QTRY_COMPARE(label->text(), it.value());
    }
}

void ModuleProgramTest::clicksLandOnThePixelUnderThem_data()
{
    QTest::addColumn<QSize>("view");
    // Widget points clicked and the screen pixels they must touch.
    QTest::addColumn<QList<QPoint>>("clicked");
    QTest::addColumn<QList<QPoint>>("touched");

    const QList<QPoint> corners{{0, 0}, {799, 0}, {0, 479}, {799, 479}, {400, 240}};
    const auto shifted = [&](int dx, int dy) {
        QList<QPoint> points;
        for (const QPoint& p : corners)
            points.append(p + QPoint(dx, dy));
        return points;
    };
    QTest::newRow("exactly 1:1") << QSize(800, 480) << corners << corners;
    QTest::newRow("odd spare, centred") << QSize(1003, 615) << shifted(101, 67) << corners;
    // Scaled down, a widget point touches the screen pixel it falls in, never the next one.
    QTest::newRow("three-quarter size")
        << QSize(600, 360) << QList<QPoint>{{0, 0}, {599, 0}, {0, 359}, {599, 359}, {2, 2}}
        << QList<QPoint>{{0, 0}, {798, 0}, {0, 478}, {798, 478}, {2, 2}};
    QTest::newRow("half size") << QSize(400, 240)
                               << QList<QPoint>{{0, 0}, {399, 0}, {0, 239}, {399, 239}, {200, 120}}
                               << QList<QPoint>{{0, 0}, {798, 0}, {0, 478}, {798, 478}, {400, 240}};
}

void ModuleProgramTest::clicksLandOnThePixelUnderThem()
{
    QFETCH(QSize, view);
    QFETCH(QList<QPoint>, clicked);
    QFETCH(QList<QPoint>, touched);
    QTemporaryDir storage;
    ModuleEngine engine(storage.path());
    // Clicked through the window, as the desktop delivers them, with a margin around the view
    // so that its corner is no null point (which the test library takes for the centre).
    QWidget window;
    window.resize(view + QSize(20, 20));
    auto* screen = new ScreenView(engine, &window);
    screen->setGeometry(QRect(QPoint(10, 10), view));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy reports(&engine, &ModuleEngine::ReportReady);
    for (qsizetype i = 0; i < clicked.size(); ++i) {
        reports.clear();
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, clicked[i] + QPoint(10, 10));
        QCOMPARE(reports.size(), 2);
        const QPoint p = touched[i];
        QVERIFY2(reports[0][0].toByteArray() ==
                     EncodeReport(0x84, {true, {p.x(), p.y()}}, ReportForm::Binary),
                 qPrintable(QStringLiteral("(%1,%2) -> %3")
                                .arg(clicked[i].x())
                                .arg(clicked[i].y())
                                .arg(QString::fromLatin1(reports[0][0].toByteArray().toHex()))));
    }
}

void ModuleProgramTest::lastStatementsFollowTheEngine_data()
{
    // Statements fed in batches, each batch shown before the next.
    QTest::addColumn<QList<int>>("batches");

    QTest::newRow("a few") << QList<int>{3};
    QTest::newRow("fills up over frames") << QList<int>{150, 49, 1, 1};
    QTest::newRow("more than kept in one frame") << QList<int>{250};
    QTest::newRow("full, then more than kept") << QList<int>{200, 201};
}

void ModuleProgramTest::lastStatementsFollowTheEngine()
{
    QFETCH(QList<int>, batches);
    QTemporaryDir storage;
    ModuleEngine engine(storage.path());
    ModuleWindow window(engine, QStringLiteral("COM3"));
    auto* list = window.findChild<QListWidget*>();
    QVERIFY(list);
    const auto last = [list] {
        return list->count() ? list->item(list->count() - 1)->text() : QString();
    };
    int fed = 0;
    for (const int batch : batches) {
        QByteArray bytes;
        for (int i = 0; i < batch; ++i, ++fed)
            bytes += "Line 0,0," + QByteArray::number(fed) + ",9;";
        engine.Feed(bytes);
        QTRY_COMPARE(last(), QStringLiteral("Line 0,0,%1,9").arg(fed - 1));
    }
    const int kept = std::min(fed, int(ModuleEngine::kRecentKept));
    QCOMPARE(list->count(), kept);
    for (int i = 0; i < kept; ++i)
        QCOMPARE(list->item(i)->text(), QStringLiteral("Line 0,0,%1,9").arg(fed - kept + i));

    // A long one shows its start and its length.
    const QByteArray print = "Print '" + QByteArray(8000, 'x') + "',1,1";
    engine.Feed(print + ';');
    QTRY_VERIFY(last().startsWith("Print 'xxx"));
    const QString shown = last();
    QVERIFY2(shown.size() < 200 &&
                 shown.endsWith(QStringLiteral("(%1 bytes)").arg(QLocale().toString(print.size()))),
             qPrintable(shown));
}

void ModuleProgramTest::countsReadThroughAccessibility_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("first");  // after "Line 1,2,3,4;xyz;"
    QTest::addColumn<QString>("second"); // and one more "Line 1,1,2,2;"

    QTest::newRow("port") << "Port"
                          << "COM3"
                          << "COM3";
    QTest::newRow("statements") << "Statements"
                                << "1"
                                << "2";
    QTest::newRow("unknown") << "Unknown statements"
                             << "1"
                             << "1";
    QTest::newRow("bytes") << "Bytes received"
                           << "17"
                           << "30";
    QTest::newRow("events") << "Events sent"
                            << "0"
                            << "0";
}

void ModuleProgramTest::countsReadThroughAccessibility()
{
    QFETCH(QString, name);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QTemporaryDir storage;
    ModuleEngine engine(storage.path());
    ModuleWindow window(engine, QStringLiteral("COM3"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    QVERIFY(root);

    engine.Feed("Line 1,2,3,4;xyz;");
    QTRY_VERIFY(FindAccessible(root, name, QAccessible::StaticText));
    QTRY_COMPARE(
        FindAccessible(root, name, QAccessible::StaticText)->text(QAccessible::Description), first);
    engine.Feed("Line 1,1,2,2;");
    QTRY_COMPARE(
        FindAccessible(root, name, QAccessible::StaticText)->text(QAccessible::Description),
        second);
}

void ModuleProgramTest::killedModulesNumberIsTakenBack_data()
{
    QTest::addColumn<QStringList>("again");      // the second module's arguments
    QTest::addColumn<QByteArray>("publishedAs"); // what it must publish as

    QTest::newRow("asked for the same number") << QStringList{"--port", "9"} << QByteArray("COM9");
    QTest::newRow("lowest free number") << QStringList{} << QByteArray("COM1");
}

void ModuleProgramTest::killedModulesNumberIsTakenBack()
{
    QFETCH(QStringList, again);
    QFETCH(QByteArray, publishedAs);
    TempConfigHome home;
    QTemporaryDir data;
    const QString folder = GetPortFolderPath();

    QProcess killed;
    QVERIFY(StartModule(killed, data.path(), {"--port", "9"}).startsWith("COM9 /dev/pts/"));
    ::kill(pid_t(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished(10000));
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
    QVERIFY(QFileInfo(folder + "/COM9").isSymLink()); // left behind

    QProcess module;
    const QByteArray started = StartModule(module, data.path(), again);
    const QList<QByteArray> fields = started.split(' ');
    QVERIFY2(fields.size() == 2 && fields[0] == publishedAs, started.constData());
    const QString device = QString::fromLocal8Bit(fields[1]);
    // One entry names the device, whether or not the new terminal has the old one's name.
    QStringList naming;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::System | QDir::Files))
        if (entry.isSymLink() && entry.symLinkTarget() == device)
            naming.append(entry.fileName());
    QCOMPARE(naming, QStringList{QString::fromLatin1(publishedAs)});

    module.terminate();
    QVERIFY(module.waitForFinished(10000));
    QCOMPARE(module.exitCode(), 0);
    QVERIFY(!QFileInfo(folder + "/" + publishedAs).isSymLink());
}

void ModuleProgramTest::wrongCallsExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("port above 255") << QStringList{"--port", "300"} << 2;
    QTest::newRow("port 0") << QStringList{"--port", "0"} << 2;
    QTest::newRow("port not a number") << QStringList{"--port", "x"} << 2;
    QTest::newRow("port without a value") << QStringList{"--port"} << 2;
    QTest::newRow("unknown option") << QStringList{"--colour"} << 2;
    QTest::newRow("negative answer delay") << QStringList{"--answer-delay", "-1"} << 2;
    QTest::newRow("answer delay not a number") << QStringList{"--answer-delay", "5ms"} << 2;
    // Not a wrong call: the number is in use.
    QTest::newRow("port taken by another device") << QStringList{"--port", "5"} << 1;
}

void ModuleProgramTest::wrongCallsExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    TempConfigHome home;
    QTemporaryDir data;
    QVERIFY(QDir().mkpath(GetPortFolderPath()));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), GetPortFolderPath() + "/COM5"));
    QProcess module;
    module.setProcessEnvironment(ModuleEnvironment(data.path()));
    module.start(QStringLiteral(ORVEXA_MODULE_EXE), arguments);
    QVERIFY(module.waitForFinished(10000));
    QCOMPARE(module.exitStatus(), QProcess::NormalExit);
    QCOMPARE(module.exitCode(), exitCode);
    QVERIFY(!module.readAllStandardError().isEmpty());
    QCOMPARE(QFileInfo(GetPortFolderPath() + "/COM5").symLinkTarget(), "/dev/null");
}

QTEST_MAIN(ModuleProgramTest)
#include "tst_module_program.moc"

void ModuleProgramTest::answerDelayHoldsEachStatement_data()
{
    QTest::addColumn<int>("delayMs");

    QTest::newRow("none") << 0;
    QTest::newRow("40 ms") << 40;
    QTest::newRow("150 ms") << 150;
}

void ModuleProgramTest::answerDelayHoldsEachStatement()
{
    QFETCH(int, delayMs);
    TempConfigHome home;
    QTemporaryDir data;
    QProcess module;
    const QByteArray started = StartModule(
        module, data.path(), {"--no-pacing", "--answer-delay", QString::number(delayMs)});
    QVERIFY2(started.startsWith("COM"), started.constData());
    const QString entry = GetPortFolderPath() + u'/' + QString::fromUtf8(started.split(' ')[0]);
    const int line = ::open(QFile::encodeName(entry).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(line >= 0);
    const auto closeLine = qScopeGuard([line] { ::close(line); });

    // Three statements, each waiting its turn: the third answers no sooner than three delays on.
    const QByteArray statements = "Color &HFF0000;BoxFill 380,220,420,260;dump 1;";
    QElapsedTimer sent;
    sent.start();
    QCOMPARE(::write(line, statements.constData(), size_t(statements.size())),
             ssize_t(statements.size()));
    QByteArray diagnostics;
    QTRY_VERIFY2_WITH_TIMEOUT((diagnostics += module.readAllStandardError()).contains("dump: "),
                              diagnostics.constData(), 20000);
    const qint64 elapsed = sent.elapsed();
    QVERIFY2(diagnostics.contains("dump: 2 statements, 0 unknown"), diagnostics.constData());
    QVERIFY2(elapsed >= 3 * delayMs, qPrintable(QString::number(elapsed)));
    module.terminate();
    QVERIFY(module.waitForFinished(10000));
}
