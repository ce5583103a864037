#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// The wire form of a trace command between processes: a 4-byte little-endian length, then that
// many bytes, which are the command and its closing NUL. The receiver answers every whole frame
// with one acknowledgement byte, so a sender knows the command was handled before it goes on.
namespace trace_wire {

// The largest frame a receiver takes. Longer commands are cut by the sender, so one runaway
// trace line cannot make a receiver hold megabytes, and a garbage length is recognised at once.
constexpr qsizetype kMaxFrameBytes = 64 * 1024;
constexpr char kAcknowledgement = '\x06';

// The frame for `command`: cut to kMaxFrameBytes - 1 bytes, NUL appended, length in front.
QByteArray EncodeFrame(QByteArrayView command);

// What a receiver made of one frame: a command (its bytes before the first NUL), or a fault to
// note in place of it.
struct Frame
{
    QByteArray command;
    QString fault;

    bool IsFault() const { return !fault.isEmpty(); }
};

// Splits a byte stream into frames, whatever the stream's chunks. Holds at most one frame's
// bytes. A length that no sender writes (zero is kept: it is only a frame without its NUL; above
// kMaxFrameBytes is not) leaves no way to find the next frame, so the reader reports one fault
// and ignores the rest of the stream: the connection should then be closed.
class FrameReader
{
public:
    // Frames completed by `bytes`, in order.
    std::vector<Frame> Feed(QByteArrayView bytes);

    // True once the stream could not be followed any further.
    bool IsBroken() const { return m_broken; }

    // For a stream that ended: a fault naming the frame left unfinished, else empty.
    QString UnfinishedFault() const;

private:
    Frame Complete();

    QByteArray m_pending;
    qsizetype m_expected = -1; // payload length of the frame under way, -1 while its header is
    bool m_broken = false;
};

} // namespace trace_wire
