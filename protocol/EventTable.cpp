#include "protocol/EventTable.h"

#include <algorithm>

namespace {

using enum ValueFormat;

constexpr ReportValue None{};

constexpr std::array<ReportEvent, 12> kEvents{{
    {report_code::kClick,
     {'8', '1'},
     "$on_click",
     ReportState{{3, 1}, {5, 1}, " (down : ctrl ", " (up : ctrl "},
     {ReportValue{"", {2, 1}, {3, 2}, Decimal}, None, None},
     1,
     ")"},
    {report_code::kCheck,
     {'8', '2'},
     "$on_check",
     ReportState{{3, 1}, {5, 1}, " (on : ctrl ", " (off : ctrl "},
     {ReportValue{"", {2, 1}, {3, 2}, Decimal}, None, None},
     1,
     ")"},
    {report_code::kPosition,
     {'8', '3'},
     "$on_position",
     std::nullopt,
     {ReportValue{" (ctrl ", {2, 1}, {3, 2}, Decimal}, ReportValue{" : ", {3, 2}, {5, 4}, Decimal},
      None},
     2,
     ")"},
    {report_code::kTouch,
     {'8', '4'},
     "$on_touch",
     ReportState{{2, 1}, {3, 1}, " (down : ", " (up : "},
     {ReportValue{"", {3, 2}, {4, 3}, Decimal}, ReportValue{",", {5, 2}, {7, 3}, Decimal}, None},
     2,
     ")"},
    {report_code::kKeyPress,
     {'8', '5'},
     "$on_key_press",
     std::nullopt,
     {ReportValue{" (ascii code=&H", {2, 1}, {3, 1}, KeyByte}, None, None},
     1,
     ")"},
    {report_code::kDate,
     {'8', '6'},
     "$on_date (",
     std::nullopt,
     {ReportValue{"", {2, 2}, {3, 3}, Decimal}, ReportValue{"/", {4, 1}, {6, 1}, Decimal},
      ReportValue{"/", {5, 1}, {7, 2}, Decimal}},
     3,
     ")"},
    {report_code::kTime,
     {'8', '7'},
     "$on_time (",
     std::nullopt,
     {ReportValue{"", {2, 1}, {3, 2}, TwoDigits}, ReportValue{":", {3, 1}, {5, 2}, TwoDigits},
      ReportValue{":", {4, 1}, {7, 2}, TwoDigits}},
     3,
     ")"},
    {report_code::kBufferWarning,
     {'8', '8'},
     "$on_buffer_warning",
     std::nullopt,
     {None, None, None},
     0,
     ""},
    {report_code::kBufferOverflow,
     {'8', '9'},
     "$on_buffer_overflow",
     std::nullopt,
     {None, None, None},
     0,
     ""},
    {report_code::kLcdState, {'8', 'A'}, "$on_lcd_state", std::nullopt, {None, None, None}, 0, ""},
    {report_code::kChecksumError,
     {'8', 'B'},
     "$on_checksum_error",
     std::nullopt,
     {None, None, None},
     0,
     ""},
    {report_code::kScreenTouch,
     {'8', 'C'},
     "$on_screen_touch",
     ReportState{{4, 1}, {7, 1}, " (down : screen ", " (up : screen "},
     {ReportValue{"", {2, 1}, {3, 2}, Decimal}, ReportValue{", ctrl ", {3, 1}, {5, 2}, Decimal},
      None},
     2,
     ")"},
}};

// Every slot must lie inside the parameter positions of its form, or an encoder built on this
// table would overwrite the frame.
constexpr bool SlotFits(ReportSlot slot, int length)
{
    return slot.position >= 2 && slot.width >= 1 && slot.position + slot.width <= length - 1;
}

constexpr bool TableIsSound()
{
    for (const ReportEvent& e : kEvents) {
        if ((e.code & kBinaryFormBit) == 0 || e.textCode[0] != '8')
            return false;
        if (e.state && (!SlotFits(e.state->binary, kBinaryReportLength) ||
                        !SlotFits(e.state->text, kTextReportLength)))
            return false;
        for (int i = 0; i < e.valueCount; ++i) {
            if (!SlotFits(e.values[i].binary, kBinaryReportLength) ||
                !SlotFits(e.values[i].text, kTextReportLength) || e.values[i].binary.width > 2 ||
                e.values[i].text.width > 4)
                return false;
        }
    }
    return true;
}
static_assert(TableIsSound());

// The most characters a value can take in an event text: two for a key byte, a sign and two
// digits for two digits, and for a decimal a sign and five digits, as no field is wider than 16
// bits (two bytes, or four hex digits).
constexpr std::size_t MostValueLength(ValueFormat format)
{
    return format == KeyByte ? 2 : format == TwoDigits ? 3 : 6;
}

constexpr std::size_t LongestEventText()
{
    std::size_t longest = 0;
    for (const ReportEvent& e : kEvents) {
        std::size_t length = e.name.size();
        if (e.state)
            length += std::max(
                {e.state->whenSet.size(), e.state->whenClear.size(), kUnknownStateText.size()});
        for (int i = 0; i < e.valueCount; ++i)
            length += e.values[i].lead.size() + MostValueLength(e.values[i].format);
        length += e.closing.size();
        longest = std::max(longest, length);
    }
    return longest;
}
static_assert(LongestEventText() <= kMostEventTextLength);

} // namespace

std::span<const ReportEvent> ReportEvents()
{
    return kEvents;
}

const ReportEvent* FindBinaryEvent(std::uint8_t code)
{
    auto it = std::find_if(kEvents.begin(), kEvents.end(),
                           [code](const ReportEvent& e) { return e.code == code; });
    return it == kEvents.end() ? nullptr : &*it;
}

const ReportEvent* FindTextEvent(char first, char second)
{
    auto it = std::find_if(kEvents.begin(), kEvents.end(), [first, second](const ReportEvent& e) {
        return e.textCode[0] == first && e.textCode[1] == second;
    });
    return it == kEvents.end() ? nullptr : &*it;
}
