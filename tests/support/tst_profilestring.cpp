#include "support/ProfileString.h"

#include "SupportTestHelpers.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// "탈던테크놀로지" as the Windows program stored it, in code page 949.
const QByteArray kCompanyCp949("\xC5\xBB\xB4\xF8\xC5\xD7\xC5\xA9\xB3\xEE\xB7\xCE\xC1\xF6");
const QString kCompany = QStringLiteral("탈던테크놀로지");

// Bytes that are neither UTF-8 nor sensible CP949, NULs and stray line ends included.
QByteArray Garbage(int size)
{
    QByteArray bytes(size, '\0');
    quint32 state = 12345;
    for (char& b : bytes)
        b = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
    return bytes;
}

// About 10 MB of entries ahead of the section the console reads.
QByteArray Bulk()
{
    QByteArray content("[bulk]\r\n");
    for (int i = 0; content.size() < 10 * 1024 * 1024; ++i)
        content += "key" + QByteArray::number(i) + "=value " + QByteArray::number(i) + "\r\n";
    return content;
}

} // namespace

class ProfileStringTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void init() { m_file = m_home.filePath(QStringLiteral("%1.ini").arg(m_counter++)); }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // the default is "d"
        QTest::addColumn<int>("bufferSize");
        const auto row = [](const char* name, const QByteArray& content, const QString& key,
                            const QString& expected, int bufferSize = 2000) {
            QTest::newRow(name) << content << key << expected << bufferSize;
        };

        row("CRLF file of the Windows program",
            "[gen]\r\nport_num=3\r\ntext=Taldern Technology\r\n", "text", "Taldern Technology");
        row("CR-only line ends", "[gen]\rport_num=3\rk=7\r", "k", "7");
        row("no trailing line end", "[gen]\nk=3", "k", "3");
        row("names in another case", "[GEN]\nPort_Num=3\n", "PORT_NUM", "3");
        row("first of two equal keys", "[gen]\nk=first\nK=second\n", "k", "first");
        row("first of two equal sections", "[gen]\nk=1\n[gen]\nk=2\n", "k", "1");
        row("line without equals is no key", "[gen]\nk\n", "k", "d");
        row("empty value is a value", "[gen]\nk=\n", "k", "");
        row("cut keeps a surrogate pair whole", "[gen]\nk=a\xF0\x9F\x98\x80z\n", "k",
            QString::fromUtf8("a\xF0\x9F\x98\x80"), 3);
        row("CP949 file of the Windows program", "[gen]\r\ntext=" + kCompanyCp949 + "\r\n", "text",
            kCompany);
        row("UTF-8 byte-order mark", "\xEF\xBB\xBF[gen]\nk=1\n", "k", "1");
        row("binary garbage around a good section",
            Garbage(2048) + "\n[gen]\nk=1\n" + Garbage(2048), "k", "1");
        row("10 MB file", Bulk() + "[gen]\r\nk=4\r\n", "k", "4");
    }

    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QFETCH(int, bufferSize);

        QVERIFY(WriteBytes(m_file, content));
        QCOMPARE(GetPrivateProfileString("gen", key, "d", bufferSize, m_file), expected);
        QCOMPARE(ReadBytes(m_file), content);
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file at all
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char* name, const QByteArray& before, const QString& key,
                            const QString& value, const QByteArray& after) {
            QTest::newRow(name) << before << key << value << after;
        };

        row("value replaced in place, the rest kept", "; note\n[a]\nx=1\n[gen]\nk = old \nz=2\n",
            "k", "new", "; note\n[a]\nx=1\n[gen]\nk = new \nz=2\n");
        row("new key after the last entry of its section", "[gen]\nk1=1\n\n[b]\ny=2\n", "k2", "v",
            "[gen]\nk1=1\nk2=v\n\n[b]\ny=2\n");
        row("new section after a missing line end", "[a]\nx=1", "k", "v", "[a]\nx=1\n[gen]\nk=v\n");
        row("CRLF kept for new lines", "[gen]\r\nk=old\r\n", "n", "v", "[gen]\r\nk=old\r\nn=v\r\n");
        row("names in another case replaced", "[GEN]\nKey=1\n", "key", "v", "[GEN]\nKey=v\n");
        row("first of two equal keys replaced", "[gen]\nk=1\nk=2\n", "k", "v", "[gen]\nk=v\nk=2\n");
        row("CP949 file rewritten in UTF-8", "[gen]\r\ntext=" + kCompanyCp949 + "\r\n", "port_num",
            "3", "[gen]\r\ntext=" + kCompany.toUtf8() + "\r\nport_num=3\r\n");
        row("bytes valid in no code page kept on lines the write leaves alone",
            "[gen]\r\ntext=Caf\xFF\xFF\r\nport_num=1\r\n", "port_num", "3",
            "[gen]\r\ntext=Caf\xFF\xFF\r\nport_num=3\r\n");
        row("a new line in such a file is in its code page", "[gen]\ntext=\xFF\n", "text2",
            QString::fromUtf8("탈"), "[gen]\ntext=\xFF\ntext2=\xC5\xBB\n");
        row("a value such a file's code page cannot hold rewrites it in UTF-8",
            "[gen]\ntext=\xFF\n", "k", QString::fromUtf8("\xF0\x9F\x98\x80"),
            "[gen]\ntext=\xEF\xBF\xBD\nk=\xF0\x9F\x98\x80\n");
        row("a change that would make the kept lines read another way rewrites it in UTF-8",
            "[gen]\nk=\xFF\ntext=\xC3\xA9\n", "k", "1", "[gen]\nk=1\ntext=\xEC\xB1\x95\n");
        row("equals, semicolon and brackets in the value", {}, "k", "a=b; [c]",
            "[gen]\nk=a=b; [c]\n");
    }

    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);

        if (!before.isNull())
            QVERIFY(WriteBytes(m_file, before));
        QVERIFY(WritePrivateProfileString("gen", key, value, m_file));
        QCOMPARE(ReadBytes(m_file), after);
        QCOMPARE(GetPrivateProfileString("gen", key, "d", 2000, m_file), value);
    }

    void refusedWrite_data()
    {
        QTest::addColumn<QStringList>("entry"); // section, key, value

        QTest::newRow("LF in value") << QStringList{"gen", "text", "a\nb=c"};
        QTest::newRow("CRLF in key") << QStringList{"gen", "te\r\nxt", "v"};
        QTest::newRow("LF in section") << QStringList{"g\nen", "text", "v"};
        QTest::newRow("equals in key") << QStringList{"gen", "a=b", "v"};
        QTest::newRow("key starting with a bracket") << QStringList{"gen", " [x]", "v"};
        QTest::newRow("lone surrogate in value")
            << QStringList{"gen", "text", QString(QChar(0xD800)) + u'v'};
    }

    void refusedWrite()
    {
        QFETCH(QStringList, entry);
        const QString &section = entry[0], &key = entry[1], &value = entry[2];

        QVERIFY(!CanWriteProfileEntry(section, key, value));
        QVERIFY(!WritePrivateProfileString(section, key, value, m_file));
        QVERIFY(!QFile::exists(m_file));
        const QByteArray before("[gen]\r\ntext=old\r\n");
        QVERIFY(WriteBytes(m_file, before));
        QVERIFY(!WritePrivateProfileString(section, key, value, m_file));
        QCOMPARE(ReadBytes(m_file), before);
    }

    void failedWriteKeepsOldFile()
    {
        QTemporaryDir folder(m_home.filePath(QStringLiteral("atomic-XXXXXX")));
        const QString file = folder.filePath(QStringLiteral("setting.ini"));
        const QByteArray before = "[gen]\r\ntext=" + QByteArray(64 * 1024, 'a') + "\r\n";
        QVERIFY(WriteBytes(file, before));
        {
            const FileSizeLimit limit(16 * 1024);
            QVERIFY(!WritePrivateProfileString("gen", "text", QString(64 * 1024, u'b'), file));
        }
        QCOMPARE(ReadBytes(file), before);
        QCOMPARE(EntriesOf(folder.path()), QStringList{QStringLiteral("setting.ini")});
    }

private:
    TempConfigHome m_home;
    QString m_file;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(ProfileStringTest)
#include "tst_profilestring.moc"
