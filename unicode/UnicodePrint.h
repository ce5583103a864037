#pragma once

#include <QString>
#include <QStringView>

// What goes between two code units in the generated text.
enum class CodeSeparator
{
    Space,   // "C548 B155"
    NoSpace, // "C548B155"
    Comma,   // "C548,B155"
    Hyphen,  // "C548-B155"
};

// The text as UTF-16 code units, each four upper-case hexadecimal digits. Characters outside the
// basic plane give their two surrogate units, and line breaks are units like any other: the
// module decodes UTF-16, so the units go over exactly as the text holds them.
QString EncodeCodeUnits(QStringView text, CodeSeparator separator);

// The module's Unicode "Print" statement for `text`, "Print 'U::" + units + "';", or with
// `wholeCommand` off the units alone, for pasting into a statement written by hand.
QString UnicodePrintText(QStringView text, CodeSeparator separator, bool wholeCommand);
