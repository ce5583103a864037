#pragma once

#include <QtGlobal>

// write(2) calls made, and bytes written, by the calling thread so far, from the kernel's
// accounting (/proc/thread-self/io). The difference across a stretch of code that does nothing
// else tells how many separate writes reached the devices, which no reader on a pseudo-terminal
// can tell: its master end sees one stream.
struct WriteCount
{
    qint64 calls = -1;
    qint64 bytes = -1;

    bool isValid() const { return calls >= 0 && bytes >= 0; }
};

WriteCount ThreadWriteCount();
