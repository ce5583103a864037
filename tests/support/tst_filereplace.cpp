// Replacing a saved file: a full disk, a node that is not a file, and two processes writing the
// settings at once must each leave the user's data whole.
#include "SupportTestHelpers.h"

#include "support/FileReplace.h"
#include "support/FileUtil.h"
#include "support/ProfileString.h"
#include "support/StringUtil.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

namespace {

enum class Writer
{
    Settings,
    TextFile,
    Whole
};

// Writes `text` through one of the writers; false with a cause when it refuses.
bool WriteThrough(Writer writer, const QString& path, const QString& text, QString& error)
{
    switch (writer) {
    case Writer::Settings:
        return CFileUtil::WriteSettings(path, "gen", {{"baudrate_index", "3"}, {"text", text}},
                                        &error);
    case Writer::TextFile:
        return CStringUtil::WriteTextFile(path, text, false, &error);
    case Writer::Whole:
        return ReplaceFileWhole(path, text.toUtf8(), &error);
    }
    return false;
}

} // namespace

class FileReplaceTest : public QObject
{
    Q_OBJECT

private slots:
    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<int>("characters");
        // Small texts stay in a write buffer until the very end; large ones fail on the way.
        for (const int characters : {3240, 64800}) {
            const QByteArray size = QByteArray::number(characters);
            QTest::newRow("settings, " + size) << Writer::Settings << characters;
            QTest::newRow("saved text, " + size) << Writer::TextFile << characters;
            QTest::newRow("any file, " + size) << Writer::Whole << characters;
        }
    }
    void failedWriteKeepsOldFile()
    {
        QFETCH(Writer, writer);
        QFETCH(int, characters);
        QTemporaryDir folder(m_home.filePath(QStringLiteral("full-XXXXXX")));
        const QString file = folder.filePath(QStringLiteral("setting.ini"));
        const QByteArray before = "[gen]\r\ntext=" + QByteArray(1600, 'p') + "\r\n";
        QVERIFY(WriteBytes(file, before));
        QString error;
        {
            StderrCapture quiet; // the text writer logs its failure code
            const FileSizeLimit limit(1024);
            QVERIFY(!WriteThrough(writer, file, QString(characters, u'n'), error));
        }
        QVERIFY2(error.contains(QLatin1String("File too large")), qPrintable(error));
        QCOMPARE(ReadBytes(file), before);
        QCOMPARE(EntriesOf(folder.path()), QStringList{QStringLiteral("setting.ini")});
    }

    void onlyRegularFilesAreReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("written");
        QTest::newRow("new name") << "new" << true;
        QTest::newRow("regular file") << "file" << true;
        QTest::newRow("link to a regular file, the link kept") << "link to file" << true;
        QTest::newRow("pipe") << "pipe" << false;
        QTest::newRow("link to a pipe") << "link to pipe" << false;
        QTest::newRow("character device") << "device" << false;
        QTest::newRow("folder") << "folder" << false;
    }
    void onlyRegularFilesAreReplaced()
    {
        QFETCH(QString, kind);
        QFETCH(bool, written);
        QTemporaryDir dir(m_home.filePath(QStringLiteral("nodes-XXXXXX")));
        const QString target = dir.filePath(QStringLiteral("target"));
        const QString other = dir.filePath(QStringLiteral("other"));
        const QByteArray path = QFile::encodeName(target);
        if (kind == "file" || kind == "link to file")
            QVERIFY(WriteBytes(kind == "file" ? target : other, "old"));
        if (kind == "pipe" || kind == "link to pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(kind == "pipe" ? target : other), 0600), 0);
        if (kind.startsWith("link"))
            QVERIFY(QFile::link(other, target));
        if (kind == "folder")
            QVERIFY(QDir().mkdir(target));
        // The node of the null device, made here and never opened.
        if (kind == "device" && ::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("character devices cannot be made here");
        const QFileInfo node(target);

        for (const Writer writer : {Writer::Whole, Writer::TextFile, Writer::Settings}) {
            QString error;
            StderrCapture quiet;
            QCOMPARE(WriteThrough(writer, target, "[gen]", error), written);
            QCOMPARE(error.isEmpty(), written);
        }
        if (written) {
            QVERIFY(ReadBytes(target).startsWith("[gen]"));
            QCOMPARE(QFileInfo(target).isSymLink(), node.isSymLink());
            return;
        }
        const QFileInfo now(target);
        QCOMPARE(now.isSymLink(), node.isSymLink());
        QVERIFY(!now.isFile());
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                .size(),
            kind.startsWith("link") ? 2 : 1);
    }

    // Two processes each set their own keys in many rounds, starting together; whatever the
    // interleaving, the file ends with both last values.
    void concurrentWritersKeepEachOthersChanges()
    {
        QTemporaryDir dir(m_home.filePath(QStringLiteral("two-XXXXXX")));
        const QString file = dir.filePath(QStringLiteral("setting.ini"));
        constexpr int kTrials = 12;
        constexpr int kRounds = 5;
        for (int trial = 0; trial < kTrials; ++trial) {
            QVERIFY(WriteBytes(file, "[gen]\nport_num=1\n"));
            int start[2];
            QCOMPARE(::pipe(start), 0);
            pid_t children[2];
            for (int who = 0; who < 2; ++who) {
                children[who] = ::fork();
                QVERIFY(children[who] >= 0);
                if (children[who] != 0)
                    continue;
                char go = 0;
                ::close(start[1]);
                bool ok = ::read(start[0], &go, 1) == 0;
                const QString key = who == 0 ? "baudrate_index" : "text";
                for (int round = 1; round <= kRounds; ++round)
                    ok = WritePrivateProfileStrings(
                             "gen", {{key, QString::number(round)}, {"port_num", "2"}}, file) &&
                         ok;
                ::_exit(ok ? 0 : 1);
            }
            ::close(start[0]);
            ::close(start[1]); // both children go at once
            for (const pid_t child : children) {
                int status = 0;
                QCOMPARE(::waitpid(child, &status, 0), child);
                QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            }
            const QByteArray ini = ReadBytes(file);
            QVERIFY2(ini.contains("baudrate_index=5\n") && ini.contains("text=5\n") &&
                         ini.count("port_num=") == 1,
                     qPrintable(QStringLiteral("trial %1:\n%2").arg(trial).arg(ini)));
        }
    }

private:
    TempConfigHome m_home;
};

QTEST_GUILESS_MAIN(FileReplaceTest)
#include "tst_filereplace.moc"
