#pragma once

#include <QByteArray>
#include <QtGlobal>

// The integer and colour writers every number of a statement and of a decoded event report goes
// through. They sit here, below both the composers and the report decoder, so neither has to
// depend on the other for them.

// |value| in the given radix (2..36, upper-case letters), then, unless width is negative,
// zero-padded to width from at most ten zeros and cut to the rightmost width characters, then
// "-" in front for a negative value in radix 10 only. Throws std::invalid_argument for a radix
// outside 2..36.
QByteArray FormatInt(long value, int radix, int width);

// "&H" and six upper-case hex digits, red first; bits above the low 24 are ignored.
QByteArray FormatColor(quint32 rgb);
