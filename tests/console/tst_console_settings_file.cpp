// The console's settings on real files, without a window: what a start reads, what a close
// writes back, and that a close killed halfway leaves the settings file whole.
#include "app/ConsoleSettings.h"
#include "support/ui/TransmitBox.h"
#include "tests/common/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

Q_DECLARE_METATYPE(ConsoleOptions)

namespace {

constexpr char kWriterOption[] = "--settings-writer";
constexpr qsizetype kBoxCharacters = TransmitBox::kMaxCharacters;

ConsoleOptions Options(int port, int speed, bool color, bool textPos, QString text, bool stamps)
{
    return {port, speed, color, textPos, std::move(text), stamps};
}

// Two sessions that differ in every value, with texts long enough that writing them takes a
// while; a file mixing them reads back as neither.
ConsoleOptions Session(int which)
{
    return which == 0 ? Options(3, 2, false, true, QString(1500, u'가'), true)
                      : Options(250, 9, true, false, QString(1400, u'b'), false);
}
QString SessionText(int which)
{
    return QString(200, which == 0 ? u'L' : u'한');
}

// The closing console, over and over: saves the two sessions in turn and says so after each.
int RunWriter(const char* settingsFile, const char* textFile)
{
    ConsoleSettings settings(QString::fromLocal8Bit(settingsFile),
                             QString::fromLocal8Bit(textFile));
    settings.Load(kBoxCharacters);
    for (int which = 0;; which = 1 - which) {
        if (!settings.Save(Session(which), SessionText(which)).isEmpty())
            return 1;
        std::printf("saved\n");
        std::fflush(stdout);
    }
}

} // namespace

class ConsoleSettingsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.emplace().isValid());
        m_ini = m_dir->filePath(QStringLiteral("setting.ini"));
        m_text = m_dir->filePath(QStringLiteral("hcode.txt"));
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<ConsoleOptions>("options");
        QTest::addColumn<bool>("problem");
        QTest::newRow("no file: the defaults") << QByteArray() << ConsoleOptions() << false;
        QTest::newRow("every value, keys in any case")
            << QByteArray("[GEN]\r\nPort_Num=12\r\nbaudrate_index=0\r\nrandom_color=0\r\n"
                          "random_ltpoption=0\r\ntext= 안녕 \r\nrx_timestamps=1\r\n")
            << Options(12, 0, false, false, "안녕", true) << false;
        QTest::newRow("numbers that are not read as the C library reads them")
            << QByteArray("[gen]\nport_num=abc\nbaudrate_index=99999999999\nrandom_color=x\n")
            << Options(0, 2147483647, false, true, "Taldern Technology", false) << false;
        QTest::newRow("another section only")
            << QByteArray("[other]\nport_num=4\n") << ConsoleOptions() << false;
        QTest::newRow("a folder where the file should be: defaults, and said")
            << QByteArray("folder") << ConsoleOptions() << true;
    }
    void load()
    {
        QFETCH(QByteArray, ini);
        QFETCH(ConsoleOptions, options);
        QFETCH(bool, problem);
        if (ini == "folder")
            QVERIFY(QDir().mkpath(m_ini));
        else if (!ini.isEmpty())
            QVERIFY(WriteBytes(m_ini, ini));
        ConsoleSettings settings(m_ini, m_text);
        QCOMPARE(settings.Load(kBoxCharacters), options);
        QCOMPARE(settings.ReadProblems().contains("\n" + m_ini + ": "), problem);
        QCOMPARE(settings.ReadProblems().isEmpty(), !problem);
        // A start writes nothing.
        QCOMPARE(QFile::exists(m_text), false);
    }

    // A value the window could not show whole is written back only when the user changed it;
    // everything else of the file stays.
    void keptUnlessChanged_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("printText"); // what the window hands back; null: as loaded
        QTest::addColumn<QString>("transmit");
        QTest::addColumn<QByteArray>("iniHas");
        QTest::addColumn<QByteArray>("textAfter");
        const QByteArray odd = "[gen]\r\ntext=Caf\xFF\xFF\r\n[other]\r\nkeep=\xFF\r\n";
        QTest::newRow("print text in neither code page, untouched")
            << odd << QByteArray() << QString() << QString() << QByteArray("text=Caf\xFF\xFF\r\n")
            << QByteArray();
        QTest::newRow("print text in neither code page, changed")
            << odd << QByteArray() << "Cafe" << QString() << QByteArray("text=Cafe\r\n")
            << QByteArray();
        QTest::newRow("other sections and keys stay")
            << QByteArray("[top]\nx=1\n[gen]\nmine=2\ntext=a\n") << QByteArray() << "b" << QString()
            << QByteArray("[top]\nx=1\n[gen]\nmine=2\ntext=b\n") << QByteArray();
        const QByteArray nul("Clear;\0Line 1,2,3,4;", 20);
        QTest::newRow("transmit text cut at a 0 byte, untouched")
            << QByteArray() << nul << QString() << "Clear;" << QByteArray("[gen]") << nul;
        QTest::newRow("transmit text cut at a 0 byte, changed")
            << QByteArray() << nul << QString() << "Clear;Z" << QByteArray("[gen]")
            << QByteArray("Clear;Z");
        const QByteArray large(kBoxCharacters + 1, 'x');
        QTest::newRow("transmit text too large to show, untouched")
            << QByteArray() << large << QString() << QString() << QByteArray("[gen]") << large;
        QTest::newRow("transmit text shown whole and emptied")
            << QByteArray() << QByteArray("Box 1,2,3,4;") << QString() << QString()
            << QByteArray("[gen]") << QByteArray();
    }
    void keptUnlessChanged()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, text);
        QFETCH(QString, printText);
        QFETCH(QString, transmit);
        QFETCH(QByteArray, iniHas);
        QFETCH(QByteArray, textAfter);
        if (!ini.isEmpty())
            QVERIFY(WriteBytes(m_ini, ini));
        if (!text.isEmpty())
            QVERIFY(WriteBytes(m_text, text));
        ConsoleSettings settings(m_ini, m_text);
        ConsoleOptions options = settings.Load(kBoxCharacters);
        settings.SetTransmitShown(settings.SavedText().text);
        if (!printText.isNull())
            options.printText = printText;
        QCOMPARE(settings.Save(options, transmit), QString());
        QVERIFY2(ReadBytes(m_ini).contains(iniHas), ReadBytes(m_ini).constData());
        QCOMPARE(ReadBytes(m_text), textAfter);
    }

    void savedPort_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("forget");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("listed: the window's choice") << true << false << QByteArray("3");
        QTest::newRow("absent: kept for its device") << false << false << QByteArray("9");
        QTest::newRow("absent, then the user chose") << false << true << QByteArray("3");
    }
    void savedPort()
    {
        QFETCH(bool, listed);
        QFETCH(bool, forget);
        QFETCH(QByteArray, saved);
        QVERIFY(WriteBytes(m_ini, "[gen]\r\nport_num=9\r\n"));
        ConsoleSettings settings(m_ini, m_text);
        ConsoleOptions options = settings.Load(kBoxCharacters);
        settings.SetSavedPortListed(listed);
        if (forget)
            settings.ForgetSavedPort();
        options.port = 3;
        QCOMPARE(settings.Save(options, QString()), QString());
        QVERIFY2(ReadBytes(m_ini).contains("port_num=" + saved + "\r\n"),
                 ReadBytes(m_ini).constData());
    }

    void unwritableFolderIsNamedAndLosesNothing()
    {
        ConsoleSettings settings(m_ini, m_text);
        QCOMPARE(settings.Save(Session(0), SessionText(0)), QString());
        const QByteArray before = ReadBytes(m_ini);
        QVERIFY(QDir().rename(m_dir->path(), m_dir->path() + "-moved"));
        QVERIFY(WriteBytes(m_dir->path(), "not a folder"));
        const QString failures = settings.Save(Session(1), SessionText(1));
        QVERIFY(QFile::remove(m_dir->path()));
        QVERIFY(QDir().rename(m_dir->path() + "-moved", m_dir->path()));
        QVERIFY2(failures.contains("\n" + m_ini + ": ") && failures.contains("\n" + m_text + ": "),
                 qPrintable(failures));
        QCOMPARE(ReadBytes(m_ini), before);
    }

    // The writer is killed at random points of its saves; every time, the next start reads one
    // session whole, never a mix.
    void killedWhileSavingLeavesOldOrNew()
    {
        ConsoleSettings settings(m_ini, m_text);
        QCOMPARE(settings.Save(Session(0), SessionText(0)), QString());
        for (int round = 0; round < 50; ++round) {
            QProcess writer;
            writer.setProgram(QCoreApplication::applicationFilePath());
            writer.setArguments({kWriterOption, m_ini, m_text});
            writer.start();
            QVERIFY(writer.waitForStarted());
            // Once the writer is saving over and over, the kill comes at a random moment of its
            // loop. Timed from a report alone, it would always land at the start of a save.
            while (!writer.canReadLine())
                QVERIFY2(writer.waitForReadyRead(30'000),
                         writer.readAllStandardError().constData());
            ::usleep(QRandomGenerator::global()->bounded(20'000u));
            QCOMPARE(::kill(static_cast<pid_t>(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(30'000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

            ConsoleSettings next(m_ini, m_text);
            const ConsoleOptions read = next.Load(kBoxCharacters);
            QVERIFY2(read == Session(0) || read == Session(1),
                     qPrintable(QStringLiteral("round %1: %2")
                                    .arg(round)
                                    .arg(QString::fromUtf8(ReadBytes(m_ini).left(200)))));
            QCOMPARE(next.ReadProblems(), QString());
            QVERIFY(next.SavedText().text == SessionText(0) ||
                    next.SavedText().text == SessionText(1));
        }
    }

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_ini;
    QString m_text;
};

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], kWriterOption) == 0)
        return RunWriter(argv[2], argv[3]);
    QCoreApplication application(argc, argv);
    ConsoleSettingsFileTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_console_settings_file.moc"
