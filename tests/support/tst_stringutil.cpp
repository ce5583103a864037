#include "support/StringUtil.h"

#include "SupportTestHelpers.h"

#include <QTemporaryDir>
#include <QTest>

class StringUtilTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { UseTemporaryConfigHome(m_home); }

    void hexEncode_data();
    void hexEncode();
    void hexDecode_data();
    void hexDecode();
    void parseHex_data();
    void parseHex();
    void savedTextRoundTrip_data();
    void savedTextRoundTrip();
    void readTextFile_data();
    void readTextFile();
    void writeTextFileFailures_data();
    void writeTextFileFailures();
    void failedWriteKeepsOldText();

private:
    QTemporaryDir m_home;
};

void StringUtilTest::hexEncode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("abc") << QByteArray("abc") << QByteArray("616263");
    QTest::newRow("byte 0xC7, upper case") << QByteArray("\xC7") << QByteArray("C7");
    QTest::newRow("zero and 0xFF") << QByteArray("\x00\xFF", 2) << QByteArray("00FF");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void StringUtilTest::hexEncode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, hex);
    QCOMPARE(CStringUtil::HexEncode(bytes), hex);
}

void StringUtilTest::hexDecode_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("out"); // what TryHexDecode leaves, starting from "keep"

    QTest::newRow("C7") << QByteArray("C7") << true << QByteArray("\xC7");
    QTest::newRow("abc") << QByteArray("616263") << true << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << true << QByteArray();
    QTest::newRow("odd length leaves out alone")
        << QByteArray("616") << false << QByteArray("keep");
    QTest::newRow("pair 00 ends the decoding") << QByteArray("610062") << false << QByteArray("a");
    QTest::newRow("pair without a digit ends it")
        << QByteArray("61zz62") << false << QByteArray("a");
    QTest::newRow("pair with one leading digit") << QByteArray("6G") << true << QByteArray("\x06");
}

void StringUtilTest::hexDecode()
{
    QFETCH(QByteArray, hex);
    QFETCH(bool, ok);
    QFETCH(QByteArray, out);

    QByteArray decoded("keep");
    QCOMPARE(CStringUtil::TryHexDecode(hex, decoded), ok);
    QCOMPARE(decoded, out);
    QCOMPARE(CStringUtil::HexDecode(hex), ok ? out : QByteArray());
}

void StringUtilTest::parseHex_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<long>("value");

    QTest::newRow("0x1A") << QByteArray("0x1A") << 0x1AL;
    QTest::newRow("12345 split after the first digit") << QByteArray("12345") << 0x12345L;
    QTest::newRow("0x12345678") << QByteArray("0x12345678") << 0x12345678L;
    QTest::newRow("0x inside removed too") << QByteArray("120x34") << 0x1234L;
    QTest::newRow("low part stops at a non-digit") << QByteArray("12z45") << 0x10002L;
    QTest::newRow("leading digits only") << QByteArray("1Azz") << 0x1AL;
    QTest::newRow("zz") << QByteArray("zz") << 0L;
    QTest::newRow("empty") << QByteArray() << 0L;
    QTest::newRow("NUL ends the digits") << QByteArray("1\0002", 3) << 1L;
    QTest::newRow("overlong high part wraps")
        << QByteArray("FFFFFFFFFFFFFFFFFFFF0001")
        << static_cast<long>((static_cast<unsigned long>(LONG_MAX) << 16) | 1UL);
}

void StringUtilTest::parseHex()
{
    QFETCH(QByteArray, text);
    QFETCH(long, value);
    QCOMPARE(CStringUtil::ParseHex(text), value);
}

void StringUtilTest::savedTextRoundTrip_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("statement") << "BoxFill 10,20,30,40;";
    QTest::newRow("Korean") << QStringLiteral("Print '탈던테크놀로지';");
    QTest::newRow("several lines, LF and CRLF") << "Line 1,2,3,4;\nClear;\r\nPrint 'x';";
    QTest::newRow("empty") << QString();
}

void StringUtilTest::savedTextRoundTrip()
{
    QFETCH(QString, text);

    const QString path = m_home.filePath(QStringLiteral("new/folder/hcode.txt"));
    QVERIFY(QFile::remove(path) || !QFileInfo::exists(path));
    QVERIFY(CStringUtil::WriteTextFile(path, text));
    QCOMPARE(ReadBytes(path), text.toUtf8());

    QString readBack("stale");
    QVERIFY(CStringUtil::ReadTextFile(path, readBack));
    QCOMPARE(readBack, text);
}

void StringUtilTest::readTextFile_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file
    QTest::addColumn<bool>("replaceNul");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("text");

    QTest::newRow("text ends at the first 0 byte")
        << QByteArray("ab\0cd", 5) << false << true << "ab";
    QTest::newRow("0 bytes replaced") << QByteArray("ab\0cd\0", 6) << true << true << "ab cd ";
    QTest::newRow("CP949 text of the Windows program")
        << QByteArray("Print '\xC5\xBB\xB4\xF8';\r\n") << false << true
        << QStringLiteral("Print '탈던';\r\n");
    QTest::newRow("missing file") << QByteArray() << false << false << "";
}

void StringUtilTest::readTextFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, replaceNul);
    QFETCH(bool, opened);
    QFETCH(QString, text);

    QTemporaryDir dir(m_home.filePath(QStringLiteral("read-XXXXXX")));
    const QString path = dir.filePath(QStringLiteral("hcode.txt"));
    if (!bytes.isNull())
        QVERIFY(WriteBytes(path, bytes));
    QString out("stale");
    QCOMPARE(CStringUtil::ReadTextFile(path, out, replaceNul, ' '), opened);
    QCOMPARE(out, text);
}

void StringUtilTest::writeTextFileFailures_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QByteArray>("code");

    QTest::newRow("folder cannot be made") << "file/hcode.txt" << QByteArray("J92");
    QTest::newRow("file cannot be written") << "folder" << QByteArray("J22");
}

void StringUtilTest::writeTextFileFailures()
{
    QFETCH(QString, where);
    QFETCH(QByteArray, code);

    QTemporaryDir dir(m_home.filePath(QStringLiteral("fail-XXXXXX")));
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("file")), "keep"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));

    StderrCapture log;
    QVERIFY(!CStringUtil::WriteTextFile(dir.filePath(where), QStringLiteral("Clear;")));
    const QByteArray logged = log.Text();
    QVERIFY2(logged.endsWith(" " + code + "\n"), logged.constData());
    QCOMPARE(logged.count('\n'), 1);
    QCOMPARE(ReadBytes(dir.filePath(QStringLiteral("file"))), QByteArray("keep"));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
}

void StringUtilTest::failedWriteKeepsOldText()
{
    QTemporaryDir dir(m_home.filePath(QStringLiteral("atomic-XXXXXX")));
    const QString path = dir.filePath(QStringLiteral("hcode.txt"));
    const QString before = QStringLiteral("Print '탈던테크놀로지';\r\n").repeated(100);
    QVERIFY(CStringUtil::WriteTextFile(path, before));

    StderrCapture log;
    {
        const FileSizeLimit limit(4096);
        QVERIFY(!CStringUtil::WriteTextFile(path, QString(64 * 1024, u'x')));
    }
    QVERIFY(log.Text().endsWith(" J22\n"));
    QString readBack;
    QVERIFY(CStringUtil::ReadTextFile(path, readBack));
    QCOMPARE(readBack, before);
    QCOMPARE(EntriesOf(dir.path()), QStringList{QStringLiteral("hcode.txt")});
}

QTEST_GUILESS_MAIN(StringUtilTest)
#include "tst_stringutil.moc"
