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
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 16);
    }
    return bytes;
}

} // namespace

class ProfileStringTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseTemporaryConfigHome(m_home); }
    void init() { m_file = m_home.filePath(QStringLiteral("%1.ini").arg(m_counter++)); }

    void read_data();
    void read();
    void write_data();
    void write();
    void writeThenRead_data();
    void writeThenRead();
    void refusedWrite_data();
    void refusedWrite();
    void largeFile();
    void failedWriteKeepsOldFile();

private:
    QTemporaryDir m_home;
    QString m_file;
    int m_counter = 0;
};

void ProfileStringTest::read_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QString>("expected");

    const QString gen = QStringLiteral("gen");
    QTest::newRow("LF line ends") << QByteArray("[gen]\nport_num=3\n") << gen << "port_num"
                                  << "-1" << 2000 << "3";
    QTest::newRow("CRLF file of the Windows program")
        << QByteArray("[gen]\r\nport_num=3\r\ntext=Taldern Technology\r\n") << gen << "text"
        << "x" << 2000 << "Taldern Technology";
    QTest::newRow("CR-only line ends")
        << QByteArray("[gen]\rport_num=3\rbaudrate_index=7\r") << gen << "baudrate_index"
        << "5" << 2000 << "7";
    QTest::newRow("no trailing line end") << QByteArray("[gen]\nport_num=3") << gen << "port_num"
                                          << "-1" << 2000 << "3";
    QTest::newRow("names in another case") << QByteArray("[GEN]\nPort_Num=3\n") << gen << "PORT_NUM"
                                           << "-1" << 2000 << "3";
    QTest::newRow("blanks around names and values")
        << QByteArray("  [ gen ]  \n\t port_num \t=  3 4 \t\n") << gen << "port_num"
        << "-1" << 2000 << "3 4";
    QTest::newRow("first of two equal keys")
        << QByteArray("[gen]\nk=first\nK=second\n") << gen << "k"
        << "d" << 2000 << "first";
    QTest::newRow("first of two equal sections")
        << QByteArray("[gen]\nk=1\n[gen]\nk=2\n") << gen << "k"
        << "d" << 2000 << "1";
    QTest::newRow("key only in the second equal section")
        << QByteArray("[gen]\nk=1\n[gen]\nonly=2\n") << gen << "only"
        << "d" << 2000 << "d";
    QTest::newRow("line without equals is no key") << QByteArray("[gen]\nk\n") << gen << "k"
                                                   << "d" << 2000 << "d";
    QTest::newRow("empty value is a value") << QByteArray("[gen]\nk=\n") << gen << "k"
                                            << "d" << 2000 << "";
    QTest::newRow("no file") << QByteArray() << gen << "k"
                             << "Tahoma" << 2000 << "Tahoma";
    QTest::newRow("default loses trailing blanks") << QByteArray("") << gen << "k"
                                                   << "Tahoma  " << 2000 << "Tahoma";
    QTest::newRow("value cut at buffer size - 1") << QByteArray("[gen]\nk=abcdef\n") << gen << "k"
                                                  << "d" << 4 << "abc";
    QTest::newRow("no buffer") << QByteArray("[gen]\nk=abc\n") << gen << "k"
                               << "d" << 0 << "";
    QTest::newRow("cut keeps a surrogate pair whole")
        << QByteArray("[gen]\nk=a\xF0\x9F\x98\x80"
                      "b\n")
        << gen << "k"
        << "d" << 3 << QString::fromUtf8("a\xF0\x9F\x98\x80");
    QTest::newRow("CP949 file of the Windows program")
        << (QByteArray("[gen]\r\ntext=") + kCompanyCp949 + "\r\n") << gen << "text"
        << "d" << 2000 << kCompany;
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF[gen]\nk=1\n") << gen << "k"
                                           << "d" << 2000 << "1";
    QTest::newRow("binary garbage") << Garbage(4096) << gen << "k"
                                    << "d" << 2000 << "d";
    QTest::newRow("garbage around a good section")
        << (Garbage(2048) + "\n[gen]\nk=1\n" + Garbage(2048)) << gen << "k"
        << "d" << 2000 << "1";
}

void ProfileStringTest::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, defaultValue);
    QFETCH(int, bufferSize);
    QFETCH(QString, expected);

    if (!content.isNull())
        QVERIFY(WriteBytes(m_file, content));
    QCOMPARE(GetPrivateProfileString(section, key, defaultValue, bufferSize, m_file), expected);
    QCOMPARE(ReadBytes(m_file), content.isNull() ? QByteArray() : content);
}

void ProfileStringTest::write_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file at all
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << "gen"
                              << "k"
                              << "v" << QByteArray("[gen]\nk=v\n");
    QTest::newRow("value replaced in place, the rest kept")
        << QByteArray("; note\n[a]\nx=1\n[gen]\nk = old \nz=2\n") << "gen"
        << "k"
        << "new" << QByteArray("; note\n[a]\nx=1\n[gen]\nk = new \nz=2\n");
    QTest::newRow("new key after the last entry of its section")
        << QByteArray("[gen]\nk1=1\n\n[b]\ny=2\n") << "gen"
        << "k2"
        << "v" << QByteArray("[gen]\nk1=1\nk2=v\n\n[b]\ny=2\n");
    QTest::newRow("new section at the end") << QByteArray("[a]\nx=1\n") << "gen"
                                            << "k"
                                            << "v" << QByteArray("[a]\nx=1\n[gen]\nk=v\n");
    QTest::newRow("new section after a missing line end")
        << QByteArray("[a]\nx=1") << "gen"
        << "k"
        << "v" << QByteArray("[a]\nx=1\n[gen]\nk=v\n");
    QTest::newRow("new key after a missing line end") << QByteArray("[gen]\nk=1") << "gen"
                                                      << "n"
                                                      << "v" << QByteArray("[gen]\nk=1\nn=v");
    QTest::newRow("CRLF kept for new lines") << QByteArray("[gen]\r\nk=old\r\n") << "gen"
                                             << "n"
                                             << "v" << QByteArray("[gen]\r\nk=old\r\nn=v\r\n");
    QTest::newRow("names in another case replaced") << QByteArray("[GEN]\nKey=1\n") << " gen "
                                                    << "key"
                                                    << "v" << QByteArray("[GEN]\nKey=v\n");
    QTest::newRow("first of two equal keys replaced") << QByteArray("[gen]\nk=1\nk=2\n") << "gen"
                                                      << "k"
                                                      << "v" << QByteArray("[gen]\nk=v\nk=2\n");
    QTest::newRow("new key goes to the first equal section")
        << QByteArray("[gen]\na=1\n[gen]\nb=2\n") << "gen"
        << "b"
        << "v" << QByteArray("[gen]\na=1\nb=v\n[gen]\nb=2\n");
    QTest::newRow("CP949 file rewritten in UTF-8")
        << (QByteArray("[gen]\r\ntext=") + kCompanyCp949 + "\r\n") << "gen"
        << "port_num"
        << "3" << (QByteArray("[gen]\r\ntext=") + kCompany.toUtf8() + "\r\nport_num=3\r\n");
    QTest::newRow("byte-order mark kept") << QByteArray("\xEF\xBB\xBF[gen]\nk=1\n") << "gen"
                                          << "k"
                                          << "2" << QByteArray("\xEF\xBB\xBF[gen]\nk=2\n");
}

void ProfileStringTest::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);

    if (!before.isNull())
        QVERIFY(WriteBytes(m_file, before));
    QVERIFY(WritePrivateProfileString(section, key, value, m_file));
    QCOMPARE(ReadBytes(m_file), after);
}

void ProfileStringTest::writeThenRead_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("Korean") << kCompany << kCompany;
    QTest::newRow("emoji outside CP949")
        << QString::fromUtf8("\xF0\x9F\x98\x80") << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("equals, semicolon and brackets") << "a=b; [c]"
                                                    << "a=b; [c]";
    QTest::newRow("2500 characters") << QString(2500, u'x') << QString(1999, u'x');
}

void ProfileStringTest::writeThenRead()
{
    QFETCH(QString, value);
    QFETCH(QString, readBack);

    QVERIFY(WriteBytes(m_file, "[gen]\nbefore=1\n[other]\nafter=2\n"));
    QVERIFY(WritePrivateProfileString("gen", "text", value, m_file));
    QCOMPARE(GetPrivateProfileString("gen", "text", "d", 2000, m_file), readBack);
    QCOMPARE(GetPrivateProfileString("gen", "before", "d", 2000, m_file), QString("1"));
    QCOMPARE(GetPrivateProfileString("other", "after", "d", 2000, m_file), QString("2"));
}

void ProfileStringTest::refusedWrite_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("LF in value") << true << "gen"
                                 << "text"
                                 << "a\nb=c";
    QTest::newRow("CRLF in key") << true << "gen"
                                 << "te\r\nxt"
                                 << "v";
    QTest::newRow("LF in section") << true << "g\nen"
                                   << "text"
                                   << "v";
    QTest::newRow("equals in key") << true << "gen"
                                   << "a=b"
                                   << "v";
    QTest::newRow("key starting with a bracket") << true << "gen"
                                                 << " [x]"
                                                 << "v";
    QTest::newRow("LF in value, no file yet") << false << "gen"
                                              << "text"
                                              << "a\nb";
}

void ProfileStringTest::refusedWrite()
{
    QFETCH(bool, fileExists);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    const QByteArray before("[gen]\r\ntext=old\r\n");
    if (fileExists)
        QVERIFY(WriteBytes(m_file, before));
    QVERIFY(!CanWriteProfileEntry(section, key, value));
    QVERIFY(!WritePrivateProfileString(section, key, value, m_file));
    QCOMPARE(QFile::exists(m_file), fileExists);
    if (fileExists)
        QCOMPARE(ReadBytes(m_file), before);
}

void ProfileStringTest::largeFile()
{
    // About 10 MB of entries before the section the console reads.
    QByteArray content("[bulk]\r\n");
    for (int i = 0; content.size() < 10 * 1024 * 1024; ++i)
        content +=
            "key" + QByteArray::number(i) + "=value number " + QByteArray::number(i) + "\r\n";
    content += "[gen]\r\nport_num=4\r\n";
    QVERIFY(WriteBytes(m_file, content));

    QCOMPARE(GetPrivateProfileString("gen", "port_num", "-1", 2000, m_file), QString("4"));
    QCOMPARE(GetPrivateProfileString("bulk", "key1000", "d", 2000, m_file),
             QString("value number 1000"));
    QVERIFY(WritePrivateProfileString("gen", "port_num", "5", m_file));
    QCOMPARE(GetPrivateProfileString("gen", "port_num", "-1", 2000, m_file), QString("5"));
    QCOMPARE(QFileInfo(m_file).size(), content.size());
}

void ProfileStringTest::failedWriteKeepsOldFile()
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

QTEST_GUILESS_MAIN(ProfileStringTest)
#include "tst_profilestring.moc"
