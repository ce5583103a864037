#include "report/ReportDecoder.h"

#include "support/IntFormat.h"
#include "support/StringUtil.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

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
// returns its length, without building an array per value: this runs for every report received.
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

// Writes into a report's own text. The table is checked against the room (kMostEventTextLength);
// should a text ever outgrow it all the same, it is cut rather than written past its end.
class TextWriter
{
public:
    explicit TextWriter(std::array<char, kMostEventTextLength>& text) : m_text(text) {}

    void Put(std::string_view part)
    {
        const std::size_t n = std::min(part.size(), m_text.size() - m_length);
        std::memcpy(m_text.data() + m_length, part.data(), n);
        m_length += n;
    }
    int Length() const { return static_cast<int>(m_length); }

private:
    std::array<char, kMostEventTextLength>& m_text;
    std::size_t m_length = 0;
};

} // namespace

void ReportDecoder::Feed(QByteArrayView bytes, DecodedRead& out)
{
    out.clear();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        if (m_position < 0) {
            // Line noise between reports is skipped in one go: only a start byte matters here.
            const void* start =
                std::memchr(data + i, kReportStart, static_cast<std::size_t>(size - i));
            if (!start)
                break;
            i = static_cast<const std::uint8_t*>(start) - data;
            out.starts.push_back(i);
            m_report[0] = kReportStart;
            m_position = 1;
            ++i;
            continue;
        }
        if (m_position == 1)
            m_binary = (data[i] & kBinaryFormBit) != 0;
        const int length = m_binary ? kBinaryReportLength : kTextReportLength;
        const qsizetype take = std::min<qsizetype>(length - m_position, size - i);
        std::memcpy(m_report.data() + m_position, data + i, static_cast<std::size_t>(take));
        m_position += static_cast<int>(take);
        i += take;
        if (m_position == length) {
            m_position = -1;
            Finish(i - 1, out);
        }
    }
}

void ReportDecoder::Finish(qsizetype end, DecodedRead& out)
{
    DecodedReport& report = out.reports.emplace_back();
    const int length = m_binary ? kBinaryReportLength : kTextReportLength;
    report.end = end;
    report.binary = m_binary;
    report.raw = m_report;
    report.rawLength = length;
    report.damaged = m_report[static_cast<std::size_t>(length - 1)] != kReportEnd;
    const ReportEvent* known =
        m_binary ? FindBinaryEvent(m_report[1])
                 : FindTextEvent(static_cast<char>(m_report[1]), static_cast<char>(m_report[2]));
    report.code = known ? known->code : m_report[1];
    report.event = report.damaged ? nullptr : known;
    Describe(report);
}

void ReportDecoder::Describe(DecodedReport& report)
{
    report.state = -1;
    report.valueCount = 0;
    report.m_textLength = 0;
    const ReportEvent* event = report.event;
    if (!event)
        return;
    const std::uint8_t* raw = report.raw.data();
    const bool binary = report.binary;
    TextWriter text(report.m_text);
    text.Put(event->name);
    bool shown = true; // the values are written
    if (event->state) {
        const ReportSlot slot = binary ? event->state->binary : event->state->text;
        report.state = raw[slot.position];
        if (report.state == (binary ? 1 : '1')) {
            text.Put(event->state->whenSet);
        } else if (report.state == (binary ? 0 : '0')) {
            text.Put(event->state->whenClear);
        } else {
            text.Put(kUnknownStateText);
            shown = false;
        }
    }
    report.valueCount = event->valueCount;
    for (int i = 0; i < event->valueCount; ++i) {
        const ReportValue& value = event->values[static_cast<std::size_t>(i)];
        const long read = ReadValue(value, raw, binary);
        report.values[static_cast<std::size_t>(i)] = read;
        if (!shown)
            continue;
        text.Put(value.lead);
        char digits[24];
        text.Put(std::string_view(
            digits, static_cast<std::size_t>(FormatValue(value.format, read, digits))));
    }
    if (shown)
        text.Put(event->closing);
    report.m_textLength = text.Length();
}

QByteArray ReportDecoder::DecodeEvent(const ReportEvent& event, const std::uint8_t* report,
                                      bool binary)
{
    DecodedReport decoded{};
    std::copy_n(report, binary ? kBinaryReportLength : kTextReportLength, decoded.raw.begin());
    decoded.binary = binary;
    decoded.event = &event;
    Describe(decoded);
    return decoded.Text().toByteArray();
}
