#include "commands/Controls.h"

#include "commands/Format.h"
#include "commands/StatementParts.h"

using compose::Decimal;
using compose::DecimalList;
using compose::DrawBelow;

namespace {

struct RangeControl
{
    const char* keyword;
    int id;
    int x1, y1, x2, y2;
};

constexpr RangeControl kSliders[] = {
    {"XSlider ", 4, 400, 40, 520, 65},
    {"YSlider ", 5, 450, 90, 425, 200},
};

constexpr RangeControl kProgressBars[] = {
    {"XProgress ", 6, 550, 40, 650, 65},
    {"YProgress ", 7, 600, 90, 575, 190},
};

constexpr int kRangeMaximum = 1000;
constexpr int kProgressStart = 300;

QByteArray RangeStatement(const RangeControl& control)
{
    return control.keyword +
           DecimalList(
               {control.id, control.x1, control.y1, control.x2, control.y2, kRangeMaximum}) +
           ';';
}

} // namespace

QByteArray ComposeButtonCtrl(RandomSource& rng)
{
    QByteArray text = "Button 1,20,40,90,70";
    if (DrawBelow(rng, 4) != 0)
        text += ",'Press'";
    return text + ';';
}

QByteArray ComposeEditCtrl()
{
    return "Edit 2,150,40,250,120,'edit ctrl';";
}

QByteArray ComposeCheckboxCtrl(RandomSource& rng)
{
    QByteArray text = "Checkbox 3,300,40,370,60,'Check'";
    if (DrawBelow(rng, 2) != 0)
        text += ',' + FormatColor(RandomColor(rng));
    return text + ';';
}

QByteArray ComposeSliderCtrl()
{
    // Each slider statement is followed by an empty one (";;"): that is the text this button has
    // always sent, and it keeps the module's handling of empty statements exercised.
    QByteArray text;
    for (const RangeControl& slider : kSliders)
        text += RangeStatement(slider) + ';';
    return text;
}

QByteArray ComposeProgressCtrl()
{
    // A new bar is set part-way at once, so its fill shows without touching it.
    QByteArray text;
    for (const RangeControl& bar : kProgressBars)
        text += RangeStatement(bar) + "SetCtrl " + Decimal(bar.id) + ",$position," +
                Decimal(kProgressStart) + ';';
    return text;
}

QByteArray ComposeShowCursor()
{
    return "ShowCursor;";
}

QByteArray ComposeHideCursor()
{
    return "HideCursor;";
}

QByteArray ComposeDrawImage(RandomSource& rng)
{
    // The picture and the sound are sample files stored on the module; nothing here checks them.
    QByteArray text = "DrawImage 'taldern_sample.bmp'";
    if (DrawBelow(rng, 2) != 0)
        text += ",50,50";
    return text + ';';
}

QByteArray ComposeSound()
{
    return "Sound 'taldern_sample.wav';";
}
