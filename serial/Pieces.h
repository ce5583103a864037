#pragma once

#include "support/RandomSource.h"

#include <QtGlobal>

#include <vector>

// The sizes, in order, in which a statement of `length` bytes is handed to the serial control.
// One draw r per piece; the piece is r % length + 1 bytes, cut down to what is still unsent. The
// size is drawn against the whole length, not against what is left, so the module sees splits of
// every shape. An empty statement gives no pieces and draws nothing.
std::vector<qsizetype> SplitIntoPieces(qsizetype length, RandomSource& rng);
