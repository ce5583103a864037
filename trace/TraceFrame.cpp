#include "trace/TraceFrame.h"

#include <algorithm>
#include <cstring>

namespace trace_wire {

namespace {

constexpr qsizetype kHeaderBytes = 4;

} // namespace

QByteArray EncodeFrame(QByteArrayView command)
{
    const qsizetype size = std::min(command.size(), kMaxFrameBytes - 1);
    const quint32 length = static_cast<quint32>(size + 1);
    QByteArray frame;
    frame.reserve(kHeaderBytes + size + 1);
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>((length >> shift) & 0xFF));
    frame.append(command.data(), size);
    frame.append('\0');
    return frame;
}

std::vector<Frame> FrameReader::Feed(QByteArrayView bytes)
{
    std::vector<Frame> frames;
    while (!m_broken && !bytes.isEmpty()) {
        const qsizetype want = (m_expected < 0 ? kHeaderBytes : m_expected) - m_pending.size();
        const qsizetype take = std::min(want, bytes.size());
        m_pending.append(bytes.first(take));
        bytes = bytes.sliced(take);
        if (take < want)
            break;

        if (m_expected >= 0) {
            frames.push_back(Complete());
            continue;
        }
        const auto* header = reinterpret_cast<const unsigned char*>(m_pending.constData());
        const quint32 length = quint32(header[0]) | quint32(header[1]) << 8 |
                               quint32(header[2]) << 16 | quint32(header[3]) << 24;
        m_pending.clear();
        if (length > quint32(kMaxFrameBytes)) {
            m_broken = true;
            frames.push_back(Frame{{},
                                   QStringLiteral("a frame announced as %1 bytes (at most %2): "
                                                  "the rest of this connection is dropped")
                                       .arg(length)
                                       .arg(kMaxFrameBytes)});
            break;
        }
        m_expected = static_cast<qsizetype>(length);
        if (m_expected == 0)
            frames.push_back(Complete());
    }
    return frames;
}

Frame FrameReader::Complete()
{
    Frame frame;
    if (m_pending.isEmpty() || m_pending.back() != '\0') {
        frame.fault = QStringLiteral("a frame of %1 bytes without its closing NUL was dropped")
                          .arg(m_pending.size());
    } else {
        const char* nul =
            static_cast<const char*>(std::memchr(m_pending.constData(), '\0', m_pending.size()));
        frame.command = m_pending.left(nul - m_pending.constData());
    }
    m_pending.clear();
    m_expected = -1;
    return frame;
}

QString FrameReader::UnfinishedFault() const
{
    if (m_broken || (m_expected < 0 && m_pending.isEmpty()))
        return {};
    if (m_expected < 0)
        return QStringLiteral("the sender left inside a frame header; %1 bytes were dropped")
            .arg(m_pending.size());
    return QStringLiteral("the sender left inside a frame; %1 of its %2 bytes were dropped")
        .arg(m_pending.size())
        .arg(m_expected);
}

} // namespace trace_wire
