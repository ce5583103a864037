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
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("hex padded to six") << 255L << 16 << 6 << QByteArray("0000FF");
        QTest::newRow("negative decimal padded, sign after padding")
            << -5L << 10 << 3 << QByteArray("-005");
        QTest::newRow("too long loses leading digits") << 1234L << 10 << 2 << QByteArray("34");
        QTest::newRow("no width") << 7L << 10 << -1 << QByteArray("7");
        QTest::newRow("no sign outside radix 10") << -7L << 16 << -1 << QByteArray("7");
        QTest::newRow("zero") << 0L << 10 << -1 << QByteArray("0");
        QTest::newRow("letters upper case in radix 36")
            << 35L * 36 + 10 << 36 << -1 << QByteArray("ZA");
        QTest::newRow("binary") << 5L << 2 << 8 << QByteArray("00000101");
        QTest::newRow("padding stops at ten zeros") << 5L << 10 << 12 << QByteArray("00000000005");
        QTest::newRow("wide number keeps its rightmost digits")
            << 12345678901L << 10 << 12 << QByteArray("012345678901");
        QTest::newRow("width zero leaves no digits") << 42L << 10 << 0 << QByteArray("");
        QTest::newRow("width zero keeps the sign") << -42L << 10 << 0 << QByteArray("-");
        QTest::newRow("other negative width means unpadded") << 42L << 10 << -3 << QByteArray("42");
        QTest::newRow("LONG_MIN decimal")
            << LONG_MIN << 10 << -1 << QByteArray("-9223372036854775808");
        QTest::newRow("LONG_MIN decimal cut to ten")
            << LONG_MIN << 10 << 10 << QByteArray("-6854775808");
        QTest::newRow("LONG_MIN hex") << LONG_MIN << 16 << -1 << QByteArray("8000000000000000");
        QTest::newRow("LONG_MIN binary")
            << LONG_MIN << 2 << -1 << QByteArray("1" + QByteArray(63, '0'));
        QTest::newRow("LONG_MAX radix 36") << LONG_MAX << 36 << -1 << QByteArray("1Y2P0IJ32E8E7");
    }

    void formatInt()
    {
        QFETCH(long, value);
        QFETCH(int, radix);
        QFETCH(int, width);
        QFETCH(QByteArray, expected);
        QCOMPARE(FormatInt(value, radix, width), expected);
    }

    void formatIntRejectsRadix_data()
    {
        QTest::addColumn<int>("radix");
        QTest::newRow("zero") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("thirty-seven") << 37;
        QTest::newRow("negative") << -10;
    }

    void formatIntRejectsRadix()
    {
        QFETCH(int, radix);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, FormatInt(10, radix, -1));
    }

    void formatColor_data()
    {
        QTest::addColumn<quint32>("rgb");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("black") << 0u << QByteArray("&H000000");
        QTest::newRow("upper-case digits") << 0xABCDEFu << QByteArray("&HABCDEF");
        QTest::newRow("red first, leading zeros kept") << 0x00FF7Fu << QByteArray("&H00FF7F");
        QTest::newRow("high byte ignored") << 0xFF123456u << QByteArray("&H123456");
    }

    void formatColor()
    {
        QFETCH(quint32, rgb);
        QFETCH(QByteArray, expected);
        QCOMPARE(FormatColor(rgb), expected);
    }

    void randomColor_data()
    {
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("red, green, blue in draw order")
            << QList<int>{0x1A, 0x2B, 0x3C} << 0x1A2B3Cu;
        QTest::newRow("each draw reduced below 256")
            << QList<int>{256 + 0x12, 32767, 512} << 0x12FF00u;
    }

    void randomColor()
    {
        QFETCH(QList<int>, draws);
        QFETCH(quint32, expected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        QCOMPARE(RandomColor(rng), expected);
        QCOMPARE(rng.Remaining(), 0u);
    }

    void withRandomColor_data()
    {
        QTest::addColumn<bool>("randomColor");
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("unchecked draws nothing")
            << false << QList<int>{} << QByteArray("Line 1,2,3,4;");
        QTest::newRow("checked puts the colour statement in front")
            << true << QList<int>{0x1A, 0x2B, 0x3C} << QByteArray("Color &H1A2B3C;Line 1,2,3,4;");
    }

    void withRandomColor()
    {
        QFETCH(bool, randomColor);
        QFETCH(QList<int>, draws);
        QFETCH(QByteArray, expected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        QCOMPARE(WithRandomColor(rng, "Line 1,2,3,4;", randomColor), expected);
        QCOMPARE(rng.Remaining(), 0u);
    }
};

QTEST_APPLESS_MAIN(FormatTest)
#include "tst_commands_format.moc"
