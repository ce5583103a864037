#include "report/ReportPresenter.h"

#include <algorithm>
#include <cstring>

namespace {

// Every received byte passes through here, so its two digits come from a table.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int b = 0; b < 256; ++b)
        pairs[b] = {digits[b >> 4], digits[b & 0xF]};
    return pairs;
}();

// What a report's last byte shows beyond the two digits and blank of any byte: " : ", its text
// and a line end.
constexpr qsizetype kReportExtra = kMostEventTextLength + 5;

// A spare array holds at most this much, so the pool stays small however large a read was.
constexpr qsizetype kMostSpareRoom = 4 * 1024;
constexpr std::size_t kMostSpares = 1024;

} // namespace

// Writes a piece through a raw cursor: QByteArray::append is far too slow for three characters
// a byte. The piece is sized up front and cut to what was written when it is closed.
class ReportPresenter::PieceWriter
{
public:
    PieceWriter() = default;
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;
    ~PieceWriter() { Close(); }

    bool IsOpen() const { return m_text != nullptr; }

    void Open(QByteArray& text, qsizetype room)
    {
        m_text = &text;
        const qsizetype used = text.size();
        text.resize(used + room);
        m_at = text.data() + used;
        m_end = text.data() + text.size();
    }

    void Close()
    {
        if (m_text)
            m_text->resize(m_at - m_text->data());
        m_text = nullptr;
    }

    void Reserve(qsizetype n)
    {
        if (m_end - m_at >= n)
            return;
        const qsizetype used = m_at - m_text->data();
        m_text->resize(used + std::max(n, m_text->size()));
        m_at = m_text->data() + used;
        m_end = m_text->data() + m_text->size();
    }

    // The following write into room reserved before.
    void Put(const char* text, qsizetype n)
    {
        std::memcpy(m_at, text, static_cast<std::size_t>(n));
        m_at += n;
    }
    void PutHexPair(std::uint8_t b)
    {
        m_at[0] = kHexPairs[b][0];
        m_at[1] = kHexPairs[b][1];
        m_at += 2;
    }
    // Each byte as two digits and a blank.
    void PutHexRun(const std::uint8_t* bytes, qsizetype n)
    {
        char* at = m_at;
        for (const std::uint8_t* end = bytes + n; bytes != end; ++bytes, at += 3) {
            at[0] = kHexPairs[*bytes][0];
            at[1] = kHexPairs[*bytes][1];
            at[2] = ' ';
        }
        m_at = at;
    }

private:
    QByteArray* m_text = nullptr;
    char* m_at = nullptr;
    char* m_end = nullptr;
};

ReportPresenter::ReportPresenter(RandomSource& rng) : m_rng(rng) {}

ColorRef ReportPresenter::DrawColour()
{
    const auto blue = static_cast<ColorRef>(m_rng.Draw() % 180);
    const auto green = static_cast<ColorRef>(m_rng.Draw() % 180);
    const auto red = static_cast<ColorRef>(m_rng.Draw() % 180);
    return red | green << 8 | blue << 16;
}

void ReportPresenter::OpenPiece(std::vector<ColoredText>& out, PieceWriter& writer, qsizetype room)
{
    if (out.empty() || out.back().colour != m_colour) {
        if (!m_spare.empty() && m_spare.back().capacity() >= room) {
            out.push_back(ColoredText{std::move(m_spare.back()), m_colour});
            m_spare.pop_back();
        } else {
            // Allocated at its size at once: growing an empty array goes the long way round.
            out.push_back(ColoredText{QByteArray(room, Qt::Uninitialized), m_colour});
            out.back().text.truncate(0);
        }
    }
    writer.Open(out.back().text, room);
}

void ReportPresenter::Recycle(std::vector<ColoredText>& pieces)
{
    for (ColoredText& piece : pieces) {
        // An array still shared with a copy the caller kept would be copied on the next write.
        if (m_spare.size() < kMostSpares && piece.text.isDetached() &&
            piece.text.capacity() <= kMostSpareRoom) {
            piece.text.resize(0); // keeps the capacity, where clear() would free it
            m_spare.push_back(std::move(piece.text));
        }
    }
    pieces.clear();
}

void ReportPresenter::Present(QByteArrayView bytes, const DecodedRead& read,
                              std::vector<ColoredText>& out)
{
    const qsizetype size = bytes.size();
    if (size == 0)
        return;
    // Room for a new piece per report start, so adding one never moves the rest (and the piece
    // the writer is on with them).
    const std::size_t most = out.size() + read.starts.size() + 1;
    if (out.capacity() < most)
        out.reserve(std::max(most, out.capacity() * 2));

    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    auto report = read.reports.begin();
    std::size_t nextStart = 0;
    PieceWriter writer;
    // The bytes run in one colour from one report's start to the next's; noise after a report
    // stays in its colour.
    for (qsizetype from = 0; from < size;) {
        if (nextStart < read.starts.size() && read.starts[nextStart] == from) {
            const ColorRef colour = DrawColour();
            if (colour != m_colour) {
                m_colour = colour;
                writer.Close();
            }
            ++nextStart;
        }
        const qsizetype to = nextStart < read.starts.size() ? read.starts[nextStart] : size;
        // Three characters a byte, and at most one report ends in a run: the one its start
        // began, or, in the first run of a read, one begun in an earlier read.
        const qsizetype room = (to - from) * 3 + kReportExtra;
        if (writer.IsOpen())
            writer.Reserve(room);
        else
            OpenPiece(out, writer, room);
        for (; report != read.reports.end() && report->end < to; ++report) {
            writer.PutHexRun(data + from, report->end - from);
            writer.Reserve(kReportExtra + 2);
            writer.PutHexPair(data[report->end]);
            if (report->damaged) {
                // Ends its line, so the next report starts on a line of its own.
                writer.Put("\r\n", 2);
            } else {
                writer.Put(" : ", 3);
                // An unknown code ends its line with " : " alone; what follows continues it.
                if (report->event) {
                    const QByteArrayView text = report->Text();
                    writer.Put(text.data(), text.size());
                    writer.Put("\r\n", 2);
                }
            }
            from = report->end + 1;
        }
        writer.Reserve((to - from) * 3);
        writer.PutHexRun(data + from, to - from);
        from = to;
    }
}
