#pragma once

#include "support/RandomSource.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

class CMSComm;

// The sizes, in order, in which a statement of `length` bytes is handed to the serial control.
// One draw r per piece; the piece is r % length + 1 bytes, cut down to what is still unsent. The
// size is drawn against the whole length, not against what is left, so the module sees splits of
// every shape. An empty statement gives no pieces and draws nothing.
std::vector<qsizetype> SplitIntoPieces(qsizetype length, RandomSource& rng);

// Sends one statement as the console's Send and a script's send steps do: in the pieces of
// SplitIntoPieces, each piece a write of its own, the whole marked as one send (EndSend), so that
// a close finishes or drops it whole. The module must put statements together from arbitrarily
// split writes; random piece sizes exercise that. An empty statement writes nothing. Throws the
// control's CommError, as SetOutput does.
void SendInPieces(CMSComm& comm, QByteArrayView statement, RandomSource& rng);
