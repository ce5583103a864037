#include "report/ReportDecoder.h"

#include "support/IntFormat.h"
#include "support/StringUtil.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Every received byte passes through here, so its two digits come from a table rather than from
// the integer formatter; the formatter still writes every number of the decoded text.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (int b = 0; b < 256; ++b)
        pairs[b] = {digits[b >> 4], digits[b & 0xF]};
    return pairs;
}();

long ReadValue(const ReportValue& value, const std::uint8_t* report, bool binary)
{
    const ReportSlot slot = binary ? value.binary : value.text;
    const std::uint8_t* at = report + slot.position;
    if (value.format == ValueFormat::KeyByte)
        return at[0];
    if (binary)
        return slot.width == 2 ? (long{at[0]} << 8) | at[1] : long{at[0]};
    return CStringUtil::ParseHex(QByteArrayView(reinterpret_cast<const char*>(at), slot.width));
}

// Writes what FormatInt writes for the value's format to `out` (room for 24 characters) and
// returns its length, without building an array per value: this runs for every report shown.
// A negative value goes through FormatInt itself, for its sign rules.
qsizetype FormatValue(ValueFormat format, long value, char* out)
{
    const int radix = format == ValueFormat::KeyByte ? 16 : 10;
    const int width = format == ValueFormat::Decimal ? -1 : 2;
    if (value < 0) {
        const QByteArray text = FormatInt(value, radix, width);
        std::memcpy(out, text.constData(), static_cast<std::size_t>(text.size()));
        return text.size();
    }
    char digits[24];
    int count = 0;
    for (auto rest = static_cast<unsigned long>(value); rest != 0 || count == 0; rest /= radix)
        digits[count++] = "0123456789ABCDEF"[rest % static_cast<unsigned long>(radix)];
    if (width >= 0) {
        while (count < width)
            digits[count++] = '0';
        count = width;
    }
    std::reverse_copy(digits, digits + count, out);
    return count;
}

// Writes the meaning of a complete report through `put(const char*, qsizetype)`.
template <typename Put>
void WriteEvent(const ReportEvent& event, const std::uint8_t* report, bool binary, Put&& put)
{
    const auto text = [&put](std::string_view t) {
        put(t.data(), static_cast<qsizetype>(t.size()));
    };
    text(event.name);
    if (event.state) {
        const ReportSlot slot = binary ? event.state->binary : event.state->text;
        const std::uint8_t state = report[slot.position];
        if (state == (binary ? 1 : '1')) {
            text(event.state->whenSet);
        } else if (state == (binary ? 0 : '0')) {
            text(event.state->whenClear);
        } else {
            text(kUnknownStateText);
            return;
        }
    }
    for (int i = 0; i < event.valueCount; ++i) {
        const ReportValue& value = event.values[static_cast<std::size_t>(i)];
        text(value.lead);
        char digits[24];
        put(digits, FormatValue(value.format, ReadValue(value, report, binary), digits));
    }
    text(event.closing);
}

} // namespace

// Writes a piece through a raw cursor: QByteArray::append is far too slow for three characters
// a byte. The piece is sized up front and cut to what was written when it is closed.
class ReportDecoder::PieceWriter
{
public:
    PieceWriter() = default;
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;
    ~PieceWriter() { Close(); }

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

    void Put(char c) { *m_at++ = c; }
    void Put(const char* text, qsizetype n)
    {
        Reserve(n);
        std::memcpy(m_at, text, static_cast<std::size_t>(n));
        m_at += n;
    }
    void PutHexPair(std::uint8_t b)
    {
        m_at[0] = kHexPairs[b][0];
        m_at[1] = kHexPairs[b][1];
        m_at += 2;
    }

private:
    QByteArray* m_text = nullptr;
    char* m_at = nullptr;
    char* m_end = nullptr;
};

ReportDecoder::ReportDecoder(RandomSource& rng) : m_rng(rng) {}

namespace {

// A spare array holds at most this much, so the pool stays small however large a read was.
constexpr qsizetype kMostSpareRoom = 4 * 1024;
constexpr std::size_t kMostSpares = 1024;

} // namespace

void ReportDecoder::OpenPiece(std::vector<ColoredText>& out, PieceWriter& writer, qsizetype room)
{
    // Closed first: a new piece may move the one the writer is on.
    writer.Close();
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

void ReportDecoder::Recycle(std::vector<ColoredText>& pieces)
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

void ReportDecoder::Feed(QByteArrayView bytes, std::vector<ColoredText>& out)
{
    if (bytes.isEmpty())
        return;
    // The most one byte adds besides a decoded text: two digits and " : ".
    constexpr qsizetype kMostPerByte = 5;
    // A report's piece starts with room for a report and its meaning; it grows if the noise
    // after it, still in its colour, goes on.
    constexpr qsizetype kReportRoom = kTextReportLength * 3 + 64;
    // Room for a new piece per report the bytes can hold, so adding one never moves the rest.
    const std::size_t most =
        out.size() + static_cast<std::size_t>(bytes.size() / kBinaryReportLength) + 2;
    if (out.capacity() < most)
        out.reserve(std::max(most, out.capacity() * 2));
    PieceWriter writer;
    OpenPiece(out, writer, bytes.size() * 3 + kMostPerByte);

    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        writer.Reserve(kMostPerByte);
        if (m_position < 0) {
            // Line noise between reports is shown but starts nothing, so it cannot shift the
            // framing of the next report.
            if (b != kReportStart) {
                writer.PutHexPair(b);
                writer.Put(' ');
                continue;
            }
            const ColorRef blue = static_cast<ColorRef>(m_rng.Draw() % 180);
            const ColorRef green = static_cast<ColorRef>(m_rng.Draw() % 180);
            const ColorRef red = static_cast<ColorRef>(m_rng.Draw() % 180);
            const ColorRef colour = red | green << 8 | blue << 16;
            if (colour != m_colour) {
                m_colour = colour;
                OpenPiece(out, writer, kReportRoom);
            }
            m_position = 0;
        }

        if (m_position == 1)
            m_binary = (b & kBinaryFormBit) != 0;
        const int length = m_binary ? kBinaryReportLength : kTextReportLength;
        m_report[static_cast<std::size_t>(m_position)] = b;
        writer.PutHexPair(b);
        if (m_position < length - 1) {
            writer.Put(' ');
            ++m_position;
            continue;
        }

        m_position = -1;
        if (b != kReportEnd) {
            // A damaged report ends here, so the next start byte begins a fresh report instead
            // of everything after it being swallowed as part of this one.
            writer.Put("\r\n", 2);
            continue;
        }
        writer.Put(" : ", 3);
        const ReportEvent* event = m_binary ? FindBinaryEvent(m_report[1])
                                            : FindTextEvent(static_cast<char>(m_report[1]),
                                                            static_cast<char>(m_report[2]));
        // An unknown code ends its line with " : " alone; what follows continues the line.
        if (event) {
            WriteEvent(*event, m_report.data(), m_binary,
                       [&writer](const char* text, qsizetype n) { writer.Put(text, n); });
            writer.Put("\r\n", 2);
        }
    }
}

QByteArray ReportDecoder::DecodeEvent(const ReportEvent& event, const std::uint8_t* report,
                                      bool binary)
{
    QByteArray text;
    WriteEvent(event, report, binary,
               [&text](const char* part, qsizetype n) { text.append(part, n); });
    return text;
}
