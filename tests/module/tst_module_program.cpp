// The module as a program and a window: the executable publishes its port, draws what arrives,
// writes its snapshot and removes its link when terminated; the window names its screen and
// counts for scripts and screen readers, and its screen turns mouse clicks into touches.
#include "module/ModuleEngine.h"
#include "module/ModuleWindow.h"
#include "support/Paths.h"
#include "tests/common/TempConfigHome.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class ModuleProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void programDrawsAndCleansUpOnTerminate();
    void windowShowsCountsAndRoutesClicks();
};

void ModuleProgramTest::programDrawsAndCleansUpOnTerminate()
{
    TempConfigHome home;
    QTemporaryDir data;
    const QString snapshot = data.filePath(QStringLiteral("screen.png"));
    QProcess module;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
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

QTEST_MAIN(ModuleProgramTest)
#include "tst_module_program.moc"
