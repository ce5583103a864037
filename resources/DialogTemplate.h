#pragma once

#include <QRect>
#include <QString>

#include <span>

// A dialog template as data: every item with its id, kind, caption and place in dialog units.
// The window code turns it into widgets once; nothing else knows the geometry.
enum class ItemKind
{
    PushButton,
    CheckBox,
    RadioButton, // one group per dialog: every radio button is a direct child of it
    DropDownList,
    LineEdit,      // single-line edit
    MultiLineEdit, // the transmit box
    ReadOnlyText,  // multi-line, selectable, not editable
    ReceiveView,   // the receive box
    Label,
    HorizontalRule,
    Icon, // the application icon
};

struct DialogItem
{
    int id;
    ItemKind kind;
    const char* caption; // UTF-8
    QRect units;         // x, y, width, height in dialog units
    bool hidden = false;
};

struct DialogTemplate
{
    int id;
    const char* caption;
    const char* fontFamily;
    int fontPointSize;
    QSize units;
    std::span<const DialogItem> items;
};

// Dialog units to pixels. A horizontal unit is a quarter of the font's average letter width, as
// the templates were drawn for; a vertical unit stays an eighth of the template font's 12-pixel
// line, so the console fits a 768-pixel-high screen even with fonts of taller line spacing.
struct DialogBaseUnits
{
    int x = 6;  // pixels per 4 horizontal units
    int y = 12; // pixels per 8 vertical units

    static DialogBaseUnits ForAverageLetterWidth(int averageLetterWidth)
    {
        return {qMax(1, averageLetterWidth), 12};
    }
    QRect ToPixels(const QRect& units) const
    {
        return {units.x() * x / 4, units.y() * y / 8, units.width() * x / 4,
                units.height() * y / 8};
    }
    QSize ToPixels(const QSize& units) const
    {
        return {units.width() * x / 4, units.height() * y / 8};
    }
};

const DialogTemplate& ConsoleTemplate();
const DialogTemplate& AboutTemplate();
const DialogTemplate& CommandTemplate();
const DialogTemplate& UnicodeGenTemplate();

// The string table.
QString LoadString(int id);
