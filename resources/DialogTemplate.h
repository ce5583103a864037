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
    DropDownList,
    LineEdit,      // single-line edit
    MultiLineEdit, // the transmit box
    ReceiveView,   // the receive box
    Label,
    HorizontalRule,
    Icon,          // the application icon
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

// Dialog units to pixels for the template font: a 9-point face at 96 dpi is 6 pixels wide per
// average character (4 horizontal units) and 12 pixels high (8 vertical units).
inline constexpr int kPixelsPerTwoUnits = 3;
inline QRect UnitsToPixels(const QRect& units)
{
    return {units.x() * kPixelsPerTwoUnits / 2, units.y() * kPixelsPerTwoUnits / 2,
            units.width() * kPixelsPerTwoUnits / 2, units.height() * kPixelsPerTwoUnits / 2};
}
inline QSize UnitsToPixels(const QSize& units)
{
    return {units.width() * kPixelsPerTwoUnits / 2, units.height() * kPixelsPerTwoUnits / 2};
}

const DialogTemplate& ConsoleTemplate();
const DialogTemplate& AboutTemplate();

// The string table.
QString LoadString(int id);
