#pragma once

#include <QByteArray>

#include "support/RandomSource.h"

// The control and media buttons. Their statements use fixed ids and rectangles and never carry
// the "Random Color" prefix.
QByteArray ComposeButtonCtrl(RandomSource& rng);
QByteArray ComposeEditCtrl();
QByteArray ComposeCheckboxCtrl(RandomSource& rng);
QByteArray ComposeSliderCtrl();
QByteArray ComposeProgressCtrl();
QByteArray ComposeShowCursor();
QByteArray ComposeHideCursor();
QByteArray ComposeDrawImage(RandomSource& rng);
QByteArray ComposeSound();
