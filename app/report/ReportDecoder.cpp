#include "app/report/ReportDecoder.h"

#include "commands/Format.h"
#include "support/StringUtil.h"

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

void AppendText(QByteArray& to, std::string_view text)
{
    to.append(text.data(), static_cast<qsizetype>(text.size()));
}

void AppendHexPair(QByteArray& to, std::uint8_t b)
{
    to.append(kHexPairs[b].data(), 2);
}

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

QByteArray FormatValue(ValueFormat format, long value)
{
    switch (format) {
    case ValueFormat::TwoDigits:
        return FormatInt(value, 10, 2);
    case ValueFormat::KeyByte:
        return FormatInt(value, 16, 2);
    case ValueFormat::Decimal:
        break;
    }
    return FormatInt(value, 10, -1);
}

} // namespace

ReportDecoder::ReportDecoder(RandomSource& rng) : m_rng(rng) {}

QByteArray& ReportDecoder::PieceFor(std::vector<ColoredText>& out, qsizetype room) const
{
    if (out.empty() || out.back().colour != m_colour) {
        out.push_back(ColoredText{QByteArray(), m_colour});
        out.back().text.reserve(room);
    }
    return out.back().text;
}

void ReportDecoder::Feed(QByteArrayView bytes, std::vector<ColoredText>& out)
{
    if (bytes.isEmpty())
        return;
    // Three characters a byte, plus a little for a decoded text.
    const auto room = [&bytes](qsizetype done) { return (bytes.size() - done) * 3 + 64; };
    QByteArray* piece = &PieceFor(out, room(0));

    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (m_position < 0) {
            // Line noise between reports is shown but starts nothing, so it cannot shift the
            // framing of the next report.
            if (b != kReportStart) {
                AppendHexPair(*piece, b);
                piece->append(' ');
                continue;
            }
            const ColorRef blue = static_cast<ColorRef>(m_rng.Draw() % 180);
            const ColorRef green = static_cast<ColorRef>(m_rng.Draw() % 180);
            const ColorRef red = static_cast<ColorRef>(m_rng.Draw() % 180);
            m_colour = red | green << 8 | blue << 16;
            piece = &PieceFor(out, room(i));
            m_position = 0;
        }

        if (m_position == 1)
            m_binary = (b & kBinaryFormBit) != 0;
        const int length = m_binary ? kBinaryReportLength : kTextReportLength;
        m_report[static_cast<std::size_t>(m_position)] = b;
        AppendHexPair(*piece, b);
        if (m_position < length - 1) {
            piece->append(' ');
            ++m_position;
            continue;
        }

        m_position = -1;
        if (b != kReportEnd) {
            // A damaged report ends here, so the next start byte begins a fresh report instead
            // of everything after it being swallowed as part of this one.
            piece->append("\r\n", 2);
            continue;
        }
        piece->append(" : ", 3);
        const ReportEvent* event = m_binary ? FindBinaryEvent(m_report[1])
                                            : FindTextEvent(static_cast<char>(m_report[1]),
                                                            static_cast<char>(m_report[2]));
        // An unknown code ends its line with " : " alone; what follows continues the line.
        if (event) {
            piece->append(DecodeEvent(*event, m_report.data(), m_binary));
            piece->append("\r\n", 2);
        }
    }
}

QByteArray ReportDecoder::DecodeEvent(const ReportEvent& event, const std::uint8_t* report,
                                      bool binary)
{
    QByteArray text;
    AppendText(text, event.name);
    if (event.state) {
        const ReportSlot slot = binary ? event.state->binary : event.state->text;
        const std::uint8_t state = report[slot.position];
        if (state == (binary ? 1 : '1')) {
            AppendText(text, event.state->whenSet);
        } else if (state == (binary ? 0 : '0')) {
            AppendText(text, event.state->whenClear);
        } else {
            AppendText(text, kUnknownStateText);
            return text;
        }
    }
    for (int i = 0; i < event.valueCount; ++i) {
        const ReportValue& value = event.values[static_cast<std::size_t>(i)];
        AppendText(text, value.lead);
        text.append(FormatValue(value.format, ReadValue(value, report, binary)));
    }
    AppendText(text, event.closing);
    return text;
}
