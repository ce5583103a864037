#include "report/ReportLines.h"

namespace {

// The decoder writes a report's text and its line end in one go, so what is left without a line
// end is hex digits of noise or of a report still arriving: only the tail can matter.
constexpr qsizetype kMostPending = 8 * 1024;
constexpr qsizetype kKeptPending = 512;

} // namespace

ReportLines::ReportLines() = default;

void ReportLines::Feed(QByteArrayView bytes, std::vector<QByteArray>& out)
{
    m_decoder.Recycle(m_pieces);
    m_decoder.Feed(bytes, m_pieces);
    FeedDecoded(m_pieces, out);
}

void ReportLines::FeedDecoded(const std::vector<ColoredText>& pieces, std::vector<QByteArray>& out)
{
    for (const ColoredText& piece : pieces)
        m_pending.append(piece.text);

    qsizetype start = 0;
    for (qsizetype end; (end = m_pending.indexOf("\r\n", start)) >= 0; start = end + 2) {
        const QByteArrayView line = QByteArrayView(m_pending).sliced(start, end - start);
        // Hex digits never hold "$" and every event name starts with it, so the first " : $"
        // ends the hex, even after a report of an unknown code that left its line open.
        const qsizetype text = line.indexOf(" : $");
        if (text >= 0)
            out.emplace_back(line.sliced(text + 3).toByteArray());
    }
    m_pending.remove(0, start);
    if (m_pending.size() > kMostPending)
        m_pending.remove(0, m_pending.size() - kKeptPending);
}
