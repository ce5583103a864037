#include "module/EventEncoder.h"

#include "support/IntFormat.h"

namespace {

void PutBinary(QByteArray& report, ReportSlot slot, long value)
{
    for (int i = slot.width - 1, at = slot.position; i >= 0; --i, ++at)
        report[at] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutText(QByteArray& report, ReportSlot slot, long value)
{
    const QByteArray digits = FormatInt(value & 0x7FFFFFFF, 16, slot.width);
    report.replace(slot.position, slot.width, digits);
}

} // namespace

QByteArray EncodeReport(const ReportEvent& event, const ReportContent& content, ReportForm form)
{
    const bool binary = form == ReportForm::Binary;
    const int length = binary ? kBinaryReportLength : kTextReportLength;
    // Fields the event leaves unused carry zero, a byte or a digit as the form has it.
    QByteArray report(length, binary ? '\0' : '0');
    report[0] = static_cast<char>(kReportStart);
    report[length - 1] = static_cast<char>(kReportEnd);
    if (binary) {
        report[1] = static_cast<char>(event.code);
    } else {
        report[1] = event.textCode[0];
        report[2] = event.textCode[1];
    }

    if (event.state) {
        const ReportSlot slot = binary ? event.state->binary : event.state->text;
        report[slot.position] = binary ? char(content.state ? 1 : 0) : (content.state ? '1' : '0');
    }
    for (int i = 0; i < event.valueCount; ++i) {
        const ReportValue& value = event.values[static_cast<std::size_t>(i)];
        const long v = content.values[static_cast<std::size_t>(i)];
        const ReportSlot slot = binary ? value.binary : value.text;
        if (value.format == ValueFormat::KeyByte)
            report[slot.position] = static_cast<char>(v & 0xFF); // the byte itself in both forms
        else if (binary)
            PutBinary(report, slot, v);
        else
            PutText(report, slot, v);
    }
    return report;
}

QByteArray EncodeReport(std::uint8_t code, const ReportContent& content, ReportForm form)
{
    const ReportEvent* event = FindBinaryEvent(code);
    return event ? EncodeReport(*event, content, form) : QByteArray();
}
