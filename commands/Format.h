#pragma once

#include <QByteArray>
#include <QtGlobal>

#include "support/RandomSource.h"

// Random coordinates are drawn against this screen, whatever the attached module reports.
inline constexpr int ScreenWidth = 800;
inline constexpr int ScreenHeight = 480;

// |value| in the given radix (2..36, upper-case letters), then, unless width is negative,
// zero-padded to width from at most ten zeros and cut to the rightmost width characters, then
// "-" in front for a negative value in radix 10 only. Throws std::invalid_argument for a radix
// outside 2..36.
QByteArray FormatInt(long value, int radix, int width);

// "&H" and six upper-case hex digits, red first; bits above the low 24 are ignored.
QByteArray FormatColor(quint32 rgb);

// Three draws, red then green then blue.
quint32 RandomColor(RandomSource& rng);

// "Color &HRRGGBB;" from RandomColor().
QByteArray RandomColorStatement(RandomSource& rng);

// The drawing buttons' "Random Color" option. The statement must already be composed: its draws
// come first, then the three colour draws, and the colour statement goes in front.
QByteArray WithRandomColor(RandomSource& rng, const QByteArray& statement, bool randomColor);
