#include "serial/Pieces.h"

#include "serial/CMSComm.h"

#include <algorithm>

std::vector<qsizetype> SplitIntoPieces(qsizetype length, RandomSource& rng)
{
    std::vector<qsizetype> sizes;
    for (qsizetype sent = 0; sent < length;) {
        const qsizetype left = length - sent;
        // A source that breaks its 0..kMax promise with a negative draw must not stall the loop
        // on empty pieces.
        const qsizetype size = std::clamp<qsizetype>(rng.Draw() % length + 1, 1, left);
        sizes.push_back(size);
        sent += size;
    }
    return sizes;
}

void SendInPieces(CMSComm& comm, QByteArrayView statement, RandomSource& rng)
{
    qsizetype offset = 0;
    for (const qsizetype size : SplitIntoPieces(statement.size(), rng)) {
        comm.SetOutput(statement.sliced(offset, size));
        offset += size;
    }
    comm.EndSend();
}
