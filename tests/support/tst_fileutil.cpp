#include "support/FileUtil.h"
#include "support/Paths.h"

#include "SupportTestHelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class FileUtilTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseTemporaryConfigHome(m_home); }
    void init();

    void firstRunReadsDefaultsAndCreatesNothing();
    void readSetting_data();
    void readSetting();
    void writeSetting_data();
    void writeSetting();
    void cachedReadIgnoresLaterWrites();
    void pathExists_data();
    void pathExists();
    void createFileWithPath();

private:
    QTemporaryDir m_home;
    QString m_file;
};

void FileUtilTest::init()
{
    // Each test starts from a missing folder, as on a machine where the console never ran.
    QDir(GetAppDataFolderPath()).removeRecursively();
    m_file = GetSettingsFilePath();
    QVERIFY(m_file.startsWith(m_home.path()));
}

void FileUtilTest::firstRunReadsDefaultsAndCreatesNothing()
{
    QCOMPARE(CFileUtil::ReadSetting(m_file, "port_num", "gen", "-1"), QString("-1"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "text", "gen", "Taldern Technology"),
             QString("Taldern Technology"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "uni_font", "gen", ""), QString());
    QCOMPARE(CFileUtil::ReadSetting(m_file, "uni_font", "gen", "Tahoma", 0, true),
             QString("Tahoma"));
    QVERIFY(!QFileInfo::exists(GetAppDataFolderPath()));
}

void FileUtilTest::readSetting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("after"); // null: the file is left as it was

    const QByteArray base("[gen]\r\nport_num=3\r\n");
    QTest::newRow("stored value") << base << "port_num"
                                  << "-1" << 0 << false << "3" << QByteArray();
    QTest::newRow("missing key gives the default") << base << "baudrate_index"
                                                   << "5" << 0 << false << "5" << QByteArray();
    QTest::newRow("missing key with empty default is added")
        << base << "uni_font"
        << "" << 0 << false << "" << QByteArray("[gen]\r\nport_num=3\r\nuni_font=\r\n");
    QTest::newRow("empty default adds the missing section")
        << QByteArray("[other]\nx=1\n") << "uni_font"
        << "" << 0 << false << "" << QByteArray("[other]\nx=1\n[gen]\nuni_font=\n");
    QTest::newRow("2500 characters come back as 1999")
        << ("[gen]\ntext=" + QByteArray(2500, 'x') + '\n') << "text"
        << "d" << 0 << false << QString(1999, u'x') << QByteArray();
    QTest::newRow("hex of UTF-8 bytes") << QByteArray("[gen]\nuni_font=ED8388\n") << "uni_font"
                                        << "d" << 0 << true << QStringLiteral("탈") << QByteArray();
    QTest::newRow("hex of CP949 bytes from the Windows program")
        << QByteArray("[gen]\nuni_font=C5BBB4F8\n") << "uni_font"
        << "d" << 0 << true << QStringLiteral("탈던") << QByteArray();
    QTest::newRow("hex, stored value that is not hex")
        << QByteArray("[gen]\nuni_font=Tahoma\n") << "uni_font"
        << "d" << 0 << true << "" << QByteArray();
}

void FileUtilTest::readSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, defaultValue);
    QFETCH(int, bufferSize);
    QFETCH(bool, hex);
    QFETCH(QString, expected);
    QFETCH(QByteArray, after);

    QVERIFY(QDir().mkpath(GetAppDataFolderPath()));
    QVERIFY(WriteBytes(m_file, content));
    QCOMPARE(CFileUtil::ReadSetting(m_file, key, "gen", defaultValue, bufferSize, hex), expected);
    QCOMPARE(ReadBytes(m_file), after.isNull() ? content : after);
}

void FileUtilTest::writeSetting_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("fileAfter"); // null: no file

    QTest::newRow("creates folder and file")
        << "port_num"
        << "3" << false << true << QByteArray("[gen]\nport_num=3\n");
    QTest::newRow("hex stores the UTF-8 bytes") << "uni_font" << QStringLiteral("탈") << true
                                                << true << QByteArray("[gen]\nuni_font=ED8388\n");
    QTest::newRow("hex makes a line break storable")
        << "text"
        << "a\nb" << true << true << QByteArray("[gen]\ntext=610A62\n");
    QTest::newRow("line break refused before the file is made")
        << "text"
        << "a\nb" << false << false << QByteArray();
    QTest::newRow("equals in key refused") << "a=b"
                                           << "v" << false << false << QByteArray();
}

void FileUtilTest::writeSetting()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, hex);
    QFETCH(bool, written);
    QFETCH(QByteArray, fileAfter);

    QCOMPARE(CFileUtil::WriteSetting(m_file, key, value, "gen", hex), written);
    QCOMPARE(QFileInfo::exists(m_file), !fileAfter.isNull());
    if (!fileAfter.isNull()) {
        QCOMPARE(ReadBytes(m_file), fileAfter);
        QCOMPARE(CFileUtil::ReadSetting(m_file, key, "gen", "d", 0, hex), value);
    }
}

void FileUtilTest::cachedReadIgnoresLaterWrites()
{
    QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "1", "gen"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "cached_key", "gen", "d", 0, false, true),
             QString("1"));
    QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "2", "gen"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "cached_key", "gen", "d", 0, false, true),
             QString("1"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "cached_key", "gen", "d"), QString("2"));
    QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "other", "other"));
    QCOMPARE(CFileUtil::ReadSetting(m_file, "cached_key", "other", "d", 0, false, true),
             QString("other"));

    // A default cached while the file was missing also stays.
    const QString other = m_home.filePath(QStringLiteral("elsewhere/setting.ini"));
    QCOMPARE(CFileUtil::ReadSetting(other, "cached_key", "gen", "d", 0, false, true), QString("d"));
    QVERIFY(CFileUtil::WriteSetting(other, "cached_key", "3", "gen"));
    QCOMPARE(CFileUtil::ReadSetting(other, "cached_key", "gen", "x", 0, false, true), QString("d"));
}

void FileUtilTest::pathExists_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("exists");

    QTest::newRow("empty text") << "empty" << false;
    QTest::newRow("file") << "file" << true;
    QTest::newRow("folder") << "folder" << true;
    QTest::newRow("broken symbolic link") << "broken link" << false;
    QTest::newRow("pipe without writer, answered at once") << "fifo" << true;
}

void FileUtilTest::pathExists()
{
    QFETCH(QString, kind);
    QFETCH(bool, exists);

    QTemporaryDir dir(m_home.filePath(QStringLiteral("exists-XXXXXX")));
    QString path = dir.filePath(QStringLiteral("entry"));
    if (kind == "empty")
        path.clear();
    else if (kind == "file")
        QVERIFY(WriteBytes(path, "x"));
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("entry")));
    else if (kind == "broken link")
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), path));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QCOMPARE(CFileUtil::PathExists(path), exists);
}

void FileUtilTest::createFileWithPath()
{
    const QString path = m_home.filePath(QStringLiteral("a/b/c/new.ini"));
    QVERIFY(CFileUtil::CreateFileWithPath(path));
    QVERIFY(WriteBytes(path, "old"));
    QVERIFY(CFileUtil::CreateFileWithPath(path));
    QCOMPARE(ReadBytes(path), QByteArray(""));
    QVERIFY(!CFileUtil::CreateFileWithPath(path + QStringLiteral("/below/a/file")));
}

QTEST_GUILESS_MAIN(FileUtilTest)
#include "tst_fileutil.moc"
