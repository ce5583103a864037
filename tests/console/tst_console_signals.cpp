// A signal asking the console to end (a terminal closed, the session ending, kill) ends it like
// a close from the window manager: the settings are written and the program exits normally.
// The console runs as a program of its own here, started from this test's executable.
#include "app/ConsoleApp.h"
#include "app/ConsoleDlg.h"
#include "resources/ControlIds.h"
#include "serial/PortFolder.h"
#include "support/Paths.h"
#include "tests/common/FileBytes.h"
#include "tests/common/TempConfigHome.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr char kChildOption[] = "--console-child";
const QString kTyped = QStringLiteral("Print '한국어',10,10;\nLine 1,2,3,4;");

// The console program itself, with what the user did before the signal came: a typed text and
// another speed. With `block`, its settings folder then turns into a plain file, so the save fails.
int RunConsole(int argc, char* argv[], bool block)
{
    QApplication application(argc, argv);
    // No device of the machine is looked at, let alone opened: only the empty port folder.
    const QString system = GetAppDataFolderPath() + QStringLiteral("/../system");
    SetSystemDeviceRoots(
        {system + "/sys/class/tty", system + "/dev", system + "/dev/serial/by-id"});
    CConsoleApp().InitInstance([block](CConsoleDlg& console) {
        qobject_cast<QPlainTextEdit*>(console.Item(ids::kTransmit))->setPlainText(kTyped);
        qobject_cast<QComboBox*>(console.Item(ids::kSpeedList))->setCurrentIndex(8);
        if (block) {
            const QString folder = GetAppDataFolderPath();
            QDir(folder).removeRecursively();
            WriteBytes(folder, "not a folder");
        }
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return 0;
}

} // namespace

class ConsoleSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void signalEndsLikeAClose_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("block");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGTERM, settings cannot be saved: said on standard error")
            << SIGTERM << true;
    }
    void signalEndsLikeAClose()
    {
        QFETCH(int, signal);
        QFETCH(bool, block);
        TempConfigHome home;
        const QString folder = home.filePath(QStringLiteral("OrvexaLCD TestBox"));
        QProcess console;
        console.setProgram(QCoreApplication::applicationFilePath());
        console.setArguments({kChildOption, block ? QStringLiteral("block") : QString()});
        console.start();
        QVERIFY(console.waitForStarted());
        while (!console.canReadLine())
            QVERIFY2(console.waitForReadyRead(30'000), console.readAllStandardError().constData());
        QCOMPARE(console.readLine(), QByteArray("ready\n"));

        QCOMPARE(::kill(static_cast<pid_t>(console.processId()), signal), 0);
        QVERIFY(console.waitForFinished(30'000));
        const QByteArray errors = console.readAllStandardError();
        QCOMPARE(console.exitStatus(), QProcess::NormalExit);
        QCOMPARE(console.exitCode(), 0);
        if (block) {
            QVERIFY2(errors.contains("setting.ini: ") && errors.contains("hcode.txt: "),
                     errors.constData());
            QCOMPARE(ReadBytes(folder), QByteArray("not a folder"));
            return;
        }
        QVERIFY2(ReadBytes(folder + "/setting.ini").contains("baudrate_index=8"),
                 errors.constData());
        QCOMPARE(ReadBytes(folder + "/hcode.txt"), kTyped.toUtf8());
    }
};

int main(int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], kChildOption) == 0)
        return RunConsole(argc, argv, argc >= 3 && std::strcmp(argv[2], "block") == 0);
    QCoreApplication application(argc, argv);
    ConsoleSignalsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_console_signals.moc"
