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
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void init()
    {
        // Each test starts from a missing folder, as on a machine where the console never ran.
        QDir(GetAppDataFolderPath()).removeRecursively();
        m_file = GetSettingsFilePath();
        QVERIFY(m_file.startsWith(m_home.path()));
    }

    void readSetting_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file, and none may be made
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QByteArray>("after"); // null: the file is left as it was
        const auto row = [](const char* name, const QByteArray& content,
                            const QString& defaultValue, bool hex, const QString& expected,
                            const QByteArray& after = {}) {
            QTest::newRow(name) << content << defaultValue << hex << expected << after;
        };

        const QByteArray base("[gen]\r\nport_num=3\r\n");
        row("first run: empty default, nothing created", {}, "", false, "");
        row("missing key gives the default as it is, even with hex", base, "Tahoma", true,
            "Tahoma");
        row("missing key with empty default is added", base, "", false, "",
            "[gen]\r\nport_num=3\r\nuni_font=\r\n");
        row("empty default adds the missing section", "[other]\nx=1\n", "", false, "",
            "[other]\nx=1\n[gen]\nuni_font=\n");
        row("2500 characters come back as 1999", "[gen]\nuni_font=" + QByteArray(2500, 'x') + '\n',
            "d", false, QString(1999, u'x'));
        row("hex of CP949 bytes from the Windows program", "[gen]\nuni_font=C5BBB4F8\n", "d", true,
            QStringLiteral("탈던"));
        row("hex, stored value that is not hex", "[gen]\nuni_font=Tahoma\n", "d", true, "");
    }

    void readSetting()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, defaultValue);
        QFETCH(bool, hex);
        QFETCH(QString, expected);
        QFETCH(QByteArray, after);

        if (!content.isNull()) {
            QVERIFY(QDir().mkpath(GetAppDataFolderPath()));
            QVERIFY(WriteBytes(m_file, content));
        }
        QCOMPARE(CFileUtil::ReadSetting(m_file, "uni_font", "gen", defaultValue, 0, hex), expected);
        QCOMPARE(ReadBytes(m_file), after.isNull() ? content : after);
        QCOMPARE(QFileInfo::exists(GetAppDataFolderPath()), !content.isNull());
    }

    void writeSetting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QByteArray>("fileAfter"); // null: refused, and no file made

        QTest::newRow("creates folder and file") << "3" << false << QByteArray("[gen]\nk=3\n");
        QTest::newRow("hex stores the UTF-8 bytes")
            << QStringLiteral("탈") << true << QByteArray("[gen]\nk=ED8388\n");
        QTest::newRow("hex makes a line break storable")
            << "a\nb" << true << QByteArray("[gen]\nk=610A62\n");
        QTest::newRow("line break refused before the file is made")
            << "a\nb" << false << QByteArray();
    }

    void writeSetting()
    {
        QFETCH(QString, value);
        QFETCH(bool, hex);
        QFETCH(QByteArray, fileAfter);

        QCOMPARE(CFileUtil::WriteSetting(m_file, "k", value, "gen", hex), !fileAfter.isNull());
        QCOMPARE(ReadBytes(m_file), fileAfter);
        QCOMPARE(QFileInfo::exists(m_file), !fileAfter.isNull());
        if (!fileAfter.isNull())
            QCOMPARE(CFileUtil::ReadSetting(m_file, "k", "gen", "d", 0, hex), value);
    }

    void cachedReadIgnoresLaterWrites()
    {
        const auto cached = [](const QString& file, const QString& section, const QString& def) {
            return CFileUtil::ReadSetting(file, "cached_key", section, def, 0, false, true);
        };
        QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "1", "gen"));
        QCOMPARE(cached(m_file, "gen", "d"), QString("1"));
        QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "2", "gen"));
        QCOMPARE(cached(m_file, "gen", "d"), QString("1"));
        QCOMPARE(CFileUtil::ReadSetting(m_file, "cached_key", "gen", "d"), QString("2"));
        // The cache tells sections apart.
        QVERIFY(CFileUtil::WriteSetting(m_file, "cached_key", "other", "other"));
        QCOMPARE(cached(m_file, "other", "d"), QString("other"));

        // A default cached while the file was missing also stays.
        const QString elsewhere = m_home.filePath(QStringLiteral("elsewhere/setting.ini"));
        QCOMPARE(cached(elsewhere, "gen", "d"), QString("d"));
        QVERIFY(CFileUtil::WriteSetting(elsewhere, "cached_key", "3", "gen"));
        QCOMPARE(cached(elsewhere, "gen", "x"), QString("d"));
    }

    // The entries are made here, once, in a folder of their own that no test removes.
    void pathExists_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");

        const QString dir = m_home.filePath(QStringLiteral("exists"));
        QVERIFY(QDir().mkpath(dir + "/folder") && WriteBytes(dir + "/file", "x"));
        QVERIFY(QFile::link(dir + "/nowhere", dir + "/broken"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir + "/fifo").constData(), 0600), 0);
        QTest::newRow("empty text") << QString() << false;
        QTest::newRow("file") << dir + "/file" << true;
        QTest::newRow("folder") << dir + "/folder" << true;
        QTest::newRow("broken symbolic link") << dir + "/broken" << false;
        QTest::newRow("pipe without writer, answered at once") << dir + "/fifo" << true;
    }

    void pathExists()
    {
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QCOMPARE(CFileUtil::PathExists(path), exists);
    }

private:
    TempConfigHome m_home;
    QString m_file;
};

QTEST_GUILESS_MAIN(FileUtilTest)
#include "tst_fileutil.moc"
