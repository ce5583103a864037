#include "commands/Controls.h"
#include "commands/Drawing.h"
#include "commands/Format.h"

#include <QtTest>

#include <functional>

using Composer = std::function<QByteArray(RandomSource&)>;
Q_DECLARE_METATYPE(Composer)

namespace {

Composer NoDraw(QByteArray (*compose)())
{
    return [compose](RandomSource&) { return compose(); };
}

Composer Print(const QByteArray& text, bool randomTextPos, bool randomColor)
{
    return [=](RandomSource& rng) {
        return WithRandomColor(rng, ComposePrint(rng, text, randomTextPos), randomColor);
    };
}

// The statement of the given press of the PSet button, counted from 1.
Composer PSetPress(int press)
{
    return [press](RandomSource&) {
        PSetGrid grid;
        QByteArray statement;
        for (int i = 0; i < press; ++i)
            statement = grid.Next();
        return statement;
    };
}

} // namespace

// Every row feeds an exact draw sequence and expects the exact statement; the script must be used
// up, so a composer that draws in another order, more often or less often fails its row.
class StatementsTest : public QObject
{
    Q_OBJECT

private slots:
    void compose_data()
    {
        QTest::addColumn<Composer>("composer");
        QTest::addColumn<QList<int>>("draws");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, Composer composer, const QList<int>& draws,
                            const char* expected) {
            QTest::newRow(name) << composer << draws << QByteArray(expected);
        };
        const QList<int> corners{10, 20, 30, 40};
        const QList<int> rgb{0x12, 0x34, 0x56};
        // Roundboxfill draws its fill choice first, then r, y2, x2, y1, x1.
        const QList<int> backwards{85, 40, 30, 20, 10};

        row("Line reduces x by width and y by height", ComposeLine, {805, 487, 32767, 32767},
            "Line 5,7,767,127;");
        row("Box", ComposeBox, {1, 2, 3, 4}, "Box 1,2,3,4;");
        row("BoxFill without options still draws its colour", ComposeBoxFill,
            corners + rgb + QList<int>{4}, "BoxFill 10,20,30,40;");
        row("BoxFill $push with both numbers", ComposeBoxFill,
            corners + rgb + QList<int>{1, 1, 1, 199, 1, 201}, "BoxFill 10,20,30,40,$push,99,100;");
        row("BoxFill colour carries one number at most", ComposeBoxFill,
            corners + rgb + QList<int>{1, 2, 1, 42}, "BoxFill 10,20,30,40,&H123456,42;");
        row("Roundbox with second radius", ComposeRoundBox, corners + QList<int>{5, 1, 81},
            "Roundbox 10,20,30,40,5,1;");
        row("Roundboxfill $push ends after the fill", ComposeRoundBoxFill,
            QList<int>{4} + backwards + QList<int>{1, 7, 1}, "Roundboxfill 10,20,30,40,5,7,$push;");
        row("Roundboxfill colour drawn before the corners", ComposeRoundBoxFill,
            QList<int>{2, 0xAB, 0xCD, 0xEF} + backwards + QList<int>{1, 7, 1, 1, 19},
            "Roundboxfill 10,20,30,40,5,7,&HABCDEF,9;");
        row("Circle axes reach twice the screen", ComposeCircle, {805, 487, 1599, 959},
            "Circle 5,7,1599,959;");
        row("Circlefill axes stay on the screen, colour still drawn", ComposeCircleFill,
            {805, 487, 1599, 959, 1, 2, 3, 0}, "Circlefill 5,7,799,479;");
        row("Circlefill colour and number", ComposeCircleFill,
            {1, 2, 3, 4, 0x10, 0x20, 0x30, 1, 1, 59}, "Circlefill 1,2,3,4,&H102030,29;");
        row("Arc ignores two draws, then rx, ry, angles, y, x", ComposeArc,
            {9999, 9998, 399, 239, 719, 361, 487, 805}, "Arc 5,7,199,119,359,1;");
        row("Bezier written in reverse draw order", ComposeBezier, {1, 2, 3, 4, 5, 6, 7, 8},
            "Bezier 8,7,6,5,4,3,2,1;");

        row("Button with caption", ComposeButtonCtrl, {3}, "Button 1,20,40,90,70,'Press';");
        row("Edit", NoDraw(ComposeEditCtrl), {}, "Edit 2,150,40,250,120,'edit ctrl';");
        row("Checkbox colour keeps six digits", ComposeCheckboxCtrl, {1, 0x0A, 0x0B, 0x0C},
            "Checkbox 3,300,40,370,60,'Check',&H0A0B0C;");
        row("Slider statements each end in two semicolons", NoDraw(ComposeSliderCtrl), {},
            "XSlider 4,400,40,520,65,1000;;YSlider 5,450,90,425,200,1000;;");
        row("Progress bars set to 300", NoDraw(ComposeProgressCtrl), {},
            "XProgress 6,550,40,650,65,1000;SetCtrl 6,$position,300;"
            "YProgress 7,600,90,575,190,1000;SetCtrl 7,$position,300;");
        row("ShowCursor", NoDraw(ComposeShowCursor), {}, "ShowCursor;");
        row("HideCursor", NoDraw(ComposeHideCursor), {}, "HideCursor;");
        row("DrawImage at 50,50", ComposeDrawImage, {1}, "DrawImage 'taldern_sample.bmp',50,50;");
        row("Sound", NoDraw(ComposeSound), {}, "Sound 'taldern_sample.wav';");

        row("Print of empty text, font size reduced below 160", Print("", false, false), {160},
            "TextFont 0;Print '';");
        row("Print sends quote and code-page bytes verbatim", Print("it's \xC7\xD1", false, false),
            {159}, "TextFont 159;Print 'it's \xC7\xD1';");
        row("Print with both options, x before y, colour prefix last", Print("hello", true, true),
            {100, 12, 34, 1, 0xFF, 0xEE, 0x00, 1, 2, 3, 1, 0x10, 0x20, 0x30},
            "Color &H102030;TextPos 12,34,1012,164;TextColor &HFFEE00,$transparent;"
            "TextFont 100;Print 'hello';");
        row("Print short TextPos with background colour", Print("hi", true, false),
            {167, 412, 274, 0, 0xFF, 0xEE, 0x00, 0x01, 0x02, 0x03, 0},
            "TextPos 12,34;TextColor &HFFEE00,&H010203;TextFont 7;Print 'hi';");
        row("Print text box height truncated", Print("x", true, false),
            {159, 399, 239, 1, 0, 0, 0, 0, 0, 0, 1},
            "TextPos 399,239,1989,445;TextColor &H000000,$transparent;TextFont 159;Print 'x';");

        row("PSet eleventh press", PSetPress(11), {}, "PSet 250,50;");
        row("PSet last of the first row", PSetPress(33), {}, "PSet 690,50;");
        row("PSet 34th press starts the second row", PSetPress(34), {}, "PSet 50,100;");
        row("PSet after the last point starts again", PSetPress(7 * 33 + 1), {}, "PSet 50,50;");
    }

    void compose()
    {
        QFETCH(Composer, composer);
        QFETCH(QList<int>, draws);
        QFETCH(QByteArray, expected);
        ScriptedRandom rng({draws.begin(), draws.end()});
        QCOMPARE(composer(rng), expected);
        QCOMPARE(rng.Remaining(), 0u);
    }
};

QTEST_APPLESS_MAIN(StatementsTest)
#include "tst_commands_statements.moc"
