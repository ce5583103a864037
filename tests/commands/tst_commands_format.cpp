#include "commands/Format.h"

#include <QtTest>

#include <climits>
#include <stdexcept>

class FormatTest : public QObject
{
    Q_OBJECT

private slots:
    void formatInt_data()
    {
        QTest::addColumn<long>("value");
        QTest::addColumn<int>("radix");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("expected"); // null: the radix is refused

        QTest::newRow("hex padded to six") << 255L << 16 << 6 << QByteArray("0000FF");
        QTest::newRow("negative decimal padded, sign after padding")
            << -5L << 10 << 3 << QByteArray("-005");
        QTest::newRow("too long loses leading digits") << 1234L << 10 << 2 << QByteArray("34");
        QTest::newRow("no sign outside radix 10") << -7L << 16 << -1 << QByteArray("7");
        QTest::newRow("zero") << 0L << 10 << -1 << QByteArray("0");
        QTest::newRow("letters upper case in radix 36")
            << 35L * 36 + 10 << 36 << -1 << QByteArray("ZA");
        QTest::newRow("padding stops at ten zeros") << 5L << 10 << 12 << QByteArray("00000000005");
        QTest::newRow("wide number keeps its rightmost digits")
            << 12345678901L << 10 << 12 << QByteArray("012345678901");
        QTest::newRow("width zero keeps only the sign") << -42L << 10 << 0 << QByteArray("-");
        QTest::newRow("LONG_MIN decimal")
            << LONG_MIN << 10 << -1 << QByteArray("-9223372036854775808");
        QTest::newRow("LONG_MIN hex") << LONG_MIN << 16 << -1 << QByteArray("8000000000000000");
        QTest::newRow("radix 0 refused") << 10L << 0 << -1 << QByteArray();
        QTest::newRow("radix 1 refused") << 10L << 1 << -1 << QByteArray();
        QTest::newRow("radix 37 refused") << 10L << 37 << -1 << QByteArray();
    }

    void formatInt()
    {
        QFETCH(long, value);
        QFETCH(int, radix);
        QFETCH(int, width);
        QFETCH(QByteArray, expected);
        if (expected.isNull())
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, FormatInt(value, radix, width));
        else
            QCOMPARE(FormatInt(value, radix, width), expected);
    }

    void formatColor_data()
    {
        QTest::addColumn<quint32>("rgb");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("upper-case digits") << 0xABCDEFu << QByteArray("&HABCDEF");
        QTest::newRow("leading zeros kept, high byte ignored")
            << 0xFF00FF7Fu << QByteArray("&H00FF7F");
    }

    void formatColor()
    {
        QFETCH(quint32, rgb);
        QFETCH(QByteArray, expected);
        QCOMPARE(FormatColor(rgb), expected);
    }

    // Red, green and blue are drawn in that order, each reduced below 256.
    void randomColor()
    {
        ScriptedRandom rng{256 + 0x12, 32767, 512};
        QCOMPARE(RandomColor(rng), 0x12FF00u);
        QCOMPARE(rng.Remaining(), 0u);
    }
};

QTEST_APPLESS_MAIN(FormatTest)
#include "tst_commands_format.moc"
