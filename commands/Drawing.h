#pragma once

#include <QByteArray>

#include "support/RandomSource.h"

// Each drawing button's statement, without the "Random Color" prefix: the console applies
// WithRandomColor() to the result, after these draws.
QByteArray ComposeLine(RandomSource& rng);
QByteArray ComposeBox(RandomSource& rng);
QByteArray ComposeBoxFill(RandomSource& rng);
QByteArray ComposeRoundBox(RandomSource& rng);
QByteArray ComposeRoundBoxFill(RandomSource& rng);
QByteArray ComposeCircle(RandomSource& rng);
QByteArray ComposeCircleFill(RandomSource& rng);
QByteArray ComposeArc(RandomSource& rng);
QByteArray ComposeBezier(RandomSource& rng);

// text is sent between single quotes exactly as given: already trimmed, already in code page
// 949, and a quote inside it is not escaped. With randomTextPos, a TextPos and a TextColor
// statement go in front.
QByteArray ComposePrint(RandomSource& rng, const QByteArray& text, bool randomTextPos);

// PSet walks a fixed grid instead of drawing at random, so repeated presses lay rows of dots
// that show at a glance whether any was lost.
class PSetGrid
{
public:
    // "PSet x,y;" at the current point, then moves to the next one.
    QByteArray Next();

private:
    int m_x = kStart;
    int m_y = kStart;

    static constexpr int kStart = 50;
};
