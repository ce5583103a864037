#include "support/StringUtil.h"

#include "SupportTestHelpers.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>

class StringUtilTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }

    void hex_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("bytes"); // what TryHexDecode leaves, starting from "keep"

        QTest::newRow("0x0A and 0xC7, two upper-case digits each")
            << QByteArray("0AC7") << true << QByteArray("\x0A\xC7");
        QTest::newRow("odd length leaves out alone")
            << QByteArray("616") << false << QByteArray("keep");
        QTest::newRow("pair 00 ends the decoding")
            << QByteArray("610062") << false << QByteArray("a");
        QTest::newRow("pair without a digit ends it")
            << QByteArray("61zz62") << false << QByteArray("a");
    }

    void hex()
    {
        QFETCH(QByteArray, hex);
        QFETCH(bool, ok);
        QFETCH(QByteArray, bytes);

        QByteArray decoded("keep");
        QCOMPARE(CStringUtil::TryHexDecode(hex, decoded), ok);
        QCOMPARE(decoded, bytes);
        QCOMPARE(CStringUtil::HexDecode(hex), ok ? bytes : QByteArray());
        if (ok)
            QCOMPARE(CStringUtil::HexEncode(bytes), hex);
    }

    void parseHex_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<long>("value");

        QTest::newRow("0x1234, four digits, not split") << QByteArray("0x1234") << 0x1234L;
        QTest::newRow("12345 split after the first digit") << QByteArray("12345") << 0x12345L;
        QTest::newRow("low part stops at a non-digit") << QByteArray("12z45") << 0x10002L;
        QTest::newRow("no digits") << QByteArray("zz") << 0L;
        QTest::newRow("overlong high part wraps")
            << QByteArray("FFFFFFFFFFFFFFFFFFFF0001")
            << static_cast<long>((static_cast<unsigned long>(LONG_MAX) << 16) | 1UL);
    }

    void parseHex()
    {
        QFETCH(QByteArray, text);
        QFETCH(long, value);
        QCOMPARE(CStringUtil::ParseHex(text), value);
    }

    void savedTextRoundTrip_data()
    {
        QTest::addColumn<QString>("text");

        QTest::newRow("Korean") << QStringLiteral("Print '탈던테크놀로지';");
        QTest::newRow("several lines, LF and CRLF") << "Line 1,2,3,4;\nClear;\r\nPrint 'x';";
        QTest::newRow("empty") << QString();
    }

    void savedTextRoundTrip()
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

    void readTextFile_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<QString>("text");

        QTest::newRow("text ends at the first 0 byte") << QByteArray("ab\0cd", 5) << "ab";
        QTest::newRow("CP949 text of the Windows program")
            << QByteArray("Print '\xC5\xBB\xB4\xF8';\r\n") << QStringLiteral("Print '탈던';\r\n");
        QTest::newRow("missing file") << QByteArray() << "";
    }

    void readTextFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);

        const QString path = m_home.filePath(QStringLiteral("read.txt"));
        QVERIFY(bytes.isNull() ? QFile::remove(path) || !QFile::exists(path)
                               : WriteBytes(path, bytes));
        QString out("stale");
        QCOMPARE(CStringUtil::ReadTextFile(path, out), !bytes.isNull());
        QCOMPARE(out, text);
    }

    // Whatever stops a write, the log names why, and the old text and the folder stay as they
    // were, with no temporary file left behind.
    void failedWrite_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("sizeLimit"); // 0: none
        QTest::addColumn<QByteArray>("code");

        QTest::newRow("folder cannot be made") << "file/hcode.txt" << 0 << QByteArray("J92");
        QTest::newRow("file cannot be written") << "folder" << 0 << QByteArray("J22");
        QTest::newRow("disk full in the middle of the write")
            << "hcode.txt" << 4096 << QByteArray("J22");
    }

    void failedWrite()
    {
        QFETCH(QString, where);
        QFETCH(int, sizeLimit);
        QFETCH(QByteArray, code);

        QTemporaryDir dir(m_home.filePath(QStringLiteral("fail-XXXXXX")));
        const QString saved = dir.filePath(QStringLiteral("hcode.txt"));
        const QString before = QStringLiteral("Print '탈던테크놀로지';\r\n").repeated(100);
        QVERIFY(CStringUtil::WriteTextFile(saved, before));
        QVERIFY(WriteBytes(dir.filePath(QStringLiteral("file")), "keep"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));

        StderrCapture log;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0)
                limit.emplace(sizeLimit);
            QVERIFY(!CStringUtil::WriteTextFile(dir.filePath(where), QString(64 * 1024, u'x')));
        }
        const QByteArray logged = log.Text();
        QVERIFY2(logged.endsWith(" " + code + "\n") && logged.count('\n') == 1, logged.constData());
        QString readBack;
        QVERIFY(CStringUtil::ReadTextFile(saved, readBack));
        QCOMPARE(readBack, before);
        QCOMPARE(ReadBytes(dir.filePath(QStringLiteral("file"))), QByteArray("keep"));
        QCOMPARE(EntriesOf(dir.path()), (QStringList{"file", "folder", "hcode.txt"}));
        QVERIFY(EntriesOf(dir.filePath(QStringLiteral("folder"))).isEmpty());
    }

private:
    TempConfigHome m_home;
};

QTEST_GUILESS_MAIN(StringUtilTest)
#include "tst_stringutil.moc"
