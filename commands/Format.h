#pragma once

#include <QByteArray>
#include <QtGlobal>

#include "support/IntFormat.h"
#include "support/RandomSource.h"

// Random coordinates are drawn against this screen, whatever the attached module reports.
inline constexpr int ScreenWidth = 800;
inline constexpr int ScreenHeight = 480;

// Three draws, red then green then blue.
quint32 RandomColor(RandomSource& rng);

// "Color &HRRGGBB;" from RandomColor().
QByteArray RandomColorStatement(RandomSource& rng);

// The drawing buttons' "Random Color" option. The statement must already be composed: its draws
// come first, then the three colour draws, and the colour statement goes in front.
QByteArray WithRandomColor(RandomSource& rng, const QByteArray& statement, bool randomColor);
