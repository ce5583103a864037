#include "commands/Controls.h"
#include "commands/Drawing.h"
#include "commands/Format.h"

#include <QtTest>

using Composer = QByteArray (*)(RandomSource&);
Q_DECLARE_METATYPE(Composer)

// Every row feeds an exact draw sequence and expects the exact statement; the script must be used
// up, so a composer that draws in another order, more often or less often fails its row.
class StatementsTest : public QObject
{
    Q_OBJECT

private:
    static void addRow(const char* name, Composer composer, QList<int> draws, const char* expected)
    {
        QTest::newRow(name) << composer << draws << QByteArray(expected);
    }

    static void checkRow()
    {
        QFETCH(Composer, composer);
        QFETCH(QList<int>, draws);
        QFETCH(QByteArray, expected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        QCOMPARE(composer(rng), expected);
        QCOMPARE(rng.Remaining(), 0u);
    }

    static void addColumns()
    {
        QTest::addColumn<Composer>("composer");
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<QByteArray>("expected");
    }

private slots:
    void drawing_data()
    {
        addColumns();
        const QList<int> corners{10, 20, 30, 40};
        const QList<int> rgb{0x12, 0x34, 0x56};

        addRow("Line reduces x by width and y by height", ComposeLine, {805, 487, 32767, 32767},
               "Line 5,7,767,127;");
        addRow("Box", ComposeBox, {1, 2, 3, 4}, "Box 1,2,3,4;");

        addRow("BoxFill without options still draws its colour", ComposeBoxFill,
               corners + rgb + QList<int>{4}, "BoxFill 10,20,30,40;");
        addRow("BoxFill $pop alone", ComposeBoxFill, corners + rgb + QList<int>{1, 0, 0},
               "BoxFill 10,20,30,40,$pop;");
        addRow("BoxFill $pop with one number", ComposeBoxFill,
               corners + rgb + QList<int>{1, 3, 1, 105, 2}, "BoxFill 10,20,30,40,$pop,5;");
        addRow("BoxFill $push with both numbers", ComposeBoxFill,
               corners + rgb + QList<int>{1, 1, 1, 199, 1, 201},
               "BoxFill 10,20,30,40,$push,99,100;");
        addRow("BoxFill colour alone", ComposeBoxFill, corners + rgb + QList<int>{1, 5, 4},
               "BoxFill 10,20,30,40,&H123456;");
        addRow("BoxFill colour carries one number at most", ComposeBoxFill,
               corners + rgb + QList<int>{1, 2, 1, 42}, "BoxFill 10,20,30,40,&H123456,42;");

        addRow("Roundbox without second radius", ComposeRoundBox, corners + QList<int>{159, 0},
               "Roundbox 10,20,30,40,79;");
        addRow("Roundbox with second radius", ComposeRoundBox, corners + QList<int>{5, 1, 81},
               "Roundbox 10,20,30,40,5,1;");

        // Roundboxfill draws its fill choice first, then r, y2, x2, y1, x1.
        const QList<int> backwards{85, 40, 30, 20, 10};
        addRow("Roundboxfill without options", ComposeRoundBoxFill,
               QList<int>{0} + backwards + QList<int>{5}, "Roundboxfill 10,20,30,40,5;");
        addRow("Roundboxfill second radius without fill", ComposeRoundBoxFill,
               QList<int>{0} + backwards + QList<int>{1, 7, 0}, "Roundboxfill 10,20,30,40,5,7;");
        addRow("Roundboxfill $push ends after the fill", ComposeRoundBoxFill,
               QList<int>{4} + backwards + QList<int>{1, 7, 1},
               "Roundboxfill 10,20,30,40,5,7,$push;");
        addRow("Roundboxfill colour drawn before the corners", ComposeRoundBoxFill,
               QList<int>{2, 0xAB, 0xCD, 0xEF} + backwards + QList<int>{1, 7, 1, 1, 19},
               "Roundboxfill 10,20,30,40,5,7,&HABCDEF,9;");
        addRow("Roundboxfill colour without trailing number", ComposeRoundBoxFill,
               QList<int>{2, 0xAB, 0xCD, 0xEF} + backwards + QList<int>{1, 7, 1, 5},
               "Roundboxfill 10,20,30,40,5,7,&HABCDEF;");

        addRow("Circle axes reach twice the screen", ComposeCircle, {805, 487, 1599, 959},
               "Circle 5,7,1599,959;");
        addRow("Circlefill axes stay on the screen", ComposeCircleFill,
               {805, 487, 1599, 959, 1, 2, 3, 0}, "Circlefill 5,7,799,479;");
        addRow("Circlefill colour alone", ComposeCircleFill, {1, 2, 3, 4, 0x10, 0x20, 0x30, 1, 5},
               "Circlefill 1,2,3,4,&H102030;");
        addRow("Circlefill colour and number", ComposeCircleFill,
               {1, 2, 3, 4, 0x10, 0x20, 0x30, 1, 1, 59}, "Circlefill 1,2,3,4,&H102030,29;");

        addRow("Arc ignores two draws, then rx, ry, angles, y, x", ComposeArc,
               {9999, 9998, 399, 239, 719, 361, 487, 805}, "Arc 5,7,199,119,359,1;");

        addRow("Bezier written in reverse draw order", ComposeBezier, {1, 2, 3, 4, 5, 6, 7, 8},
               "Bezier 8,7,6,5,4,3,2,1;");
        addRow("Bezier y drawn first, by height", ComposeBezier,
               {959, 1599, 959, 1599, 959, 1599, 959, 1599},
               "Bezier 799,479,799,479,799,479,799,479;");
    }

    void drawing() { checkRow(); }

    void lineWithRandomColorDrawsColourLast()
    {
        ScriptedRandom rng{1, 2, 3, 4, 0x10, 0x20, 0x30};
        const QByteArray line = ComposeLine(rng);
        QCOMPARE(WithRandomColor(rng, line, true), QByteArray("Color &H102030;Line 1,2,3,4;"));
        QCOMPARE(rng.Remaining(), 0u);
    }

    void controls_data()
    {
        addColumns();
        addRow("Button with caption", ComposeButtonCtrl, {3}, "Button 1,20,40,90,70,'Press';");
        addRow("Button without caption", ComposeButtonCtrl, {4}, "Button 1,20,40,90,70;");
        addRow(
            "Edit draws nothing", [](RandomSource&) { return ComposeEditCtrl(); }, {},
            "Edit 2,150,40,250,120,'edit ctrl';");
        addRow("Checkbox plain", ComposeCheckboxCtrl, {0}, "Checkbox 3,300,40,370,60,'Check';");
        addRow("Checkbox colour keeps six digits", ComposeCheckboxCtrl, {1, 0x0A, 0x0B, 0x0C},
               "Checkbox 3,300,40,370,60,'Check',&H0A0B0C;");
        addRow(
            "Slider statements each end in two semicolons",
            [](RandomSource&) { return ComposeSliderCtrl(); }, {},
            "XSlider 4,400,40,520,65,1000;;YSlider 5,450,90,425,200,1000;;");
        addRow(
            "Progress bars set to 300", [](RandomSource&) { return ComposeProgressCtrl(); }, {},
            "XProgress 6,550,40,650,65,1000;SetCtrl 6,$position,300;"
            "YProgress 7,600,90,575,190,1000;SetCtrl 7,$position,300;");
        addRow(
            "ShowCursor", [](RandomSource&) { return ComposeShowCursor(); }, {}, "ShowCursor;");
        addRow(
            "HideCursor", [](RandomSource&) { return ComposeHideCursor(); }, {}, "HideCursor;");
        addRow("DrawImage at its own place", ComposeDrawImage, {0},
               "DrawImage 'taldern_sample.bmp';");
        addRow("DrawImage at 50,50", ComposeDrawImage, {1},
               "DrawImage 'taldern_sample.bmp',50,50;");
        addRow(
            "Sound", [](RandomSource&) { return ComposeSound(); }, {},
            "Sound 'taldern_sample.wav';");
    }

    void controls() { checkRow(); }

    void print_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("randomTextPos");
        QTest::addColumn<bool>("randomColor");
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("plain") << QByteArray("hello") << false << false << QList<int>{100}
                               << QByteArray("TextFont 100;Print 'hello';");
        QTest::newRow("empty text, font size reduced below 160")
            << QByteArray() << false << false << QList<int>{160}
            << QByteArray("TextFont 0;Print '';");
        QTest::newRow("quote and code-page bytes sent verbatim")
            << QByteArray("it's \xC7\xD1") << false << false << QList<int>{159}
            << QByteArray("TextFont 159;Print 'it's \xC7\xD1';");
        QTest::newRow("both options, x before y, colour prefix last")
            << QByteArray("hello") << true << true
            << QList<int>{100, 12, 34, 1, 0xFF, 0xEE, 0x00, 1, 2, 3, 1, 0x10, 0x20, 0x30}
            << QByteArray("Color &H102030;TextPos 12,34,1012,164;TextColor &HFFEE00,$transparent;"
                          "TextFont 100;Print 'hello';");
        QTest::newRow("short TextPos with background colour")
            << QByteArray("hi") << true << false
            << QList<int>{167, 412, 274, 0, 0xFF, 0xEE, 0x00, 0x01, 0x02, 0x03, 0}
            << QByteArray("TextPos 12,34;TextColor &HFFEE00,&H010203;TextFont 7;Print 'hi';");
        QTest::newRow("text box height truncated")
            << QByteArray("x") << true << false << QList<int>{159, 399, 239, 1, 0, 0, 0, 0, 0, 0, 1}
            << QByteArray("TextPos 399,239,1989,445;TextColor &H000000,$transparent;"
                          "TextFont 159;Print 'x';");
    }

    void print()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, randomTextPos);
        QFETCH(bool, randomColor);
        QFETCH(QList<int>, draws);
        QFETCH(QByteArray, expected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        const QByteArray statement = ComposePrint(rng, text, randomTextPos);
        QCOMPARE(WithRandomColor(rng, statement, randomColor), expected);
        QCOMPARE(rng.Remaining(), 0u);
    }

    void psetGrid_data()
    {
        QTest::addColumn<int>("press");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("first press at the start") << 1 << QByteArray("PSet 50,50;");
        QTest::newRow("eleventh press") << 11 << QByteArray("PSet 250,50;");
        QTest::newRow("last of the first row") << 33 << QByteArray("PSet 690,50;");
        QTest::newRow("34th press starts the second row") << 34 << QByteArray("PSet 50,100;");
        QTest::newRow("last point of the grid") << 7 * 33 << QByteArray("PSet 690,350;");
        QTest::newRow("after the last point it starts again")
            << 7 * 33 + 1 << QByteArray("PSet 50,50;");
        QTest::newRow("second round follows the first")
            << 7 * 33 + 34 << QByteArray("PSet 50,100;");
    }

    void psetGrid()
    {
        QFETCH(int, press);
        QFETCH(QByteArray, expected);
        PSetGrid grid;
        QByteArray statement;
        for (int i = 0; i < press; ++i)
            statement = grid.Next();
        QCOMPARE(statement, expected);
    }
};

QTEST_APPLESS_MAIN(StatementsTest)
#include "tst_commands_statements.moc"
