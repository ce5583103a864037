#include "commands/Drawing.h"

#include "commands/Format.h"
#include "commands/StatementParts.h"

using compose::Decimal;
using compose::DecimalList;
using compose::DrawBelow;

namespace {

// x1,y1,x2,y2 anywhere on the screen, drawn in the order written.
QByteArray RandomCorners(RandomSource& rng)
{
    const int x1 = DrawBelow(rng, ScreenWidth);
    const int y1 = DrawBelow(rng, ScreenHeight);
    const int x2 = DrawBelow(rng, ScreenWidth);
    const int y2 = DrawBelow(rng, ScreenHeight);
    return DecimalList({x1, y1, x2, y2});
}

// The fill argument of BoxFill and Roundboxfill: pop or push the module's colour stack, or a
// colour of its own.
enum FillChoice
{
    PopColor,
    PushColor,
    OwnColor,
    FillChoiceCount
};

QByteArray FillArgument(int choice, quint32 color)
{
    switch (choice) {
    case PopColor:
        return "$pop";
    case PushColor:
        return "$push";
    default:
        return FormatColor(color);
    }
}

} // namespace

QByteArray ComposeLine(RandomSource& rng)
{
    return "Line " + RandomCorners(rng) + ';';
}

QByteArray ComposeBox(RandomSource& rng)
{
    return "Box " + RandomCorners(rng) + ';';
}

QByteArray ComposeBoxFill(RandomSource& rng)
{
    QByteArray text = "BoxFill " + RandomCorners(rng);
    // Drawn on every press, even when no argument ends up carrying it.
    const quint32 color = RandomColor(rng);
    if (DrawBelow(rng, 4) != 0) {
        const int choice = DrawBelow(rng, FillChoiceCount);
        text += ',' + FillArgument(choice, color);
        if (DrawBelow(rng, 4) != 0) {
            text += ',' + Decimal(DrawBelow(rng, 100));
            if (choice != OwnColor && DrawBelow(rng, 2) != 0)
                text += ',' + Decimal(DrawBelow(rng, 101));
        }
    }
    return text + ';';
}

QByteArray ComposeRoundBox(RandomSource& rng)
{
    // Separate statements keep the corners drawn before the radius; the operands of one
    // expression may be evaluated in any order.
    QByteArray text = "Roundbox " + RandomCorners(rng);
    text += ',' + Decimal(DrawBelow(rng, 80));
    if (DrawBelow(rng, 2) != 0)
        text += ',' + Decimal(DrawBelow(rng, 80));
    return text + ';';
}

QByteArray ComposeRoundBoxFill(RandomSource& rng)
{
    const int choice = DrawBelow(rng, FillChoiceCount);
    const quint32 color = choice == OwnColor ? RandomColor(rng) : 0;
    const QByteArray fill = FillArgument(choice, color);

    const int r = DrawBelow(rng, 80);
    const int y2 = DrawBelow(rng, ScreenHeight);
    const int x2 = DrawBelow(rng, ScreenWidth);
    const int y1 = DrawBelow(rng, ScreenHeight);
    const int x1 = DrawBelow(rng, ScreenWidth);
    QByteArray text = "Roundboxfill " + DecimalList({x1, y1, x2, y2, r});

    if (DrawBelow(rng, 5) != 0) {
        text += ',' + Decimal(DrawBelow(rng, 80));
        if (DrawBelow(rng, 5) != 0) {
            text += ',' + fill;
            if (choice == OwnColor && DrawBelow(rng, 5) != 0)
                text += ',' + Decimal(DrawBelow(rng, 10));
        }
    }
    return text + ';';
}

QByteArray ComposeCircle(RandomSource& rng)
{
    // The axes may reach twice the screen, so part of the figure often falls off it.
    const int x = DrawBelow(rng, ScreenWidth);
    const int y = DrawBelow(rng, ScreenHeight);
    const int a = DrawBelow(rng, 2 * ScreenWidth);
    const int b = DrawBelow(rng, 2 * ScreenHeight);
    return "Circle " + DecimalList({x, y, a, b}) + ';';
}

QByteArray ComposeCircleFill(RandomSource& rng)
{
    const int x = DrawBelow(rng, ScreenWidth);
    const int y = DrawBelow(rng, ScreenHeight);
    const int a = DrawBelow(rng, ScreenWidth);
    const int b = DrawBelow(rng, ScreenHeight);
    QByteArray text = "Circlefill " + DecimalList({x, y, a, b});
    const quint32 color = RandomColor(rng);
    if (DrawBelow(rng, 2) != 0) {
        text += ',' + FormatColor(color);
        if (DrawBelow(rng, 5) != 0)
            text += ',' + Decimal(DrawBelow(rng, 30));
    }
    return text + ';';
}

QByteArray ComposeArc(RandomSource& rng)
{
    // Two draws are spent unused before the arc's own: the draw order is part of the button's
    // behaviour, so a given sequence always gives the same arc.
    rng.Draw();
    rng.Draw();
    const int rx = DrawBelow(rng, ScreenWidth / 4);
    const int ry = DrawBelow(rng, ScreenHeight / 4);
    const int angle1 = DrawBelow(rng, 360);
    const int angle2 = DrawBelow(rng, 360);
    const int y = DrawBelow(rng, ScreenHeight);
    const int x = DrawBelow(rng, ScreenWidth);
    return "Arc " + DecimalList({x, y, rx, ry, angle1, angle2}) + ';';
}

QByteArray ComposeBezier(RandomSource& rng)
{
    // Drawn from the last point backwards.
    int values[8];
    for (int i = 7; i >= 0; --i)
        values[i] = DrawBelow(rng, i % 2 == 0 ? ScreenWidth : ScreenHeight);
    return "Bezier " +
           DecimalList({values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                        values[7]}) +
           ';';
}

QByteArray ComposePrint(RandomSource& rng, const QByteArray& text, bool randomTextPos)
{
    const int size = DrawBelow(rng, 160);
    const QByteArray print = "TextFont " + Decimal(size) + ";Print '" + text + "';";
    if (!randomTextPos)
        return print;

    const int x = DrawBelow(rng, ScreenWidth / 2);
    const int y = DrawBelow(rng, ScreenHeight / 2);
    QByteArray front = "TextPos " + DecimalList({x, y});
    if (DrawBelow(rng, 2) != 0) {
        // A text box that grows with the font size, its height computed in floating point and
        // truncated toward zero.
        const auto bottom = static_cast<long>(1.3 * size + y);
        front += ',' + DecimalList({x + 10 * size, bottom});
    }
    front += ';';

    // Both colours are drawn on every press; the background may then be left transparent.
    const quint32 foreground = RandomColor(rng);
    const quint32 background = RandomColor(rng);
    const QByteArray backgroundText =
        DrawBelow(rng, 2) == 0 ? FormatColor(background) : QByteArray("$transparent");
    front += "TextColor " + FormatColor(foreground) + ',' + backgroundText + ';';
    return front + print;
}

QByteArray PSetGrid::Next()
{
    const QByteArray text = "PSet " + DecimalList({m_x, m_y}) + ';';
    m_x += 20;
    if (m_x > 700) {
        m_x = kStart;
        m_y += 50;
        if (m_y > ScreenHeight - 100)
            m_y = kStart;
    }
    return text;
}
