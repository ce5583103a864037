#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// The module's screen in pixels: touches are reported, and pictures compared, in its coordinates.
constexpr int kScreenWidth = 800, kScreenHeight = 480;

// The module frames every event report with these two bytes.
constexpr std::uint8_t kReportStart = 0x02, kReportEnd = 0x03;

// The code byte's high bit picks the form: set, the binary form of 8 bytes; clear, the text form
// of 11 bytes, whose code is the two characters "8" and "1".."C".
constexpr int kBinaryReportLength = 8;
constexpr int kTextReportLength = 11;
constexpr std::uint8_t kBinaryFormBit = 0x80;

// The binary code of each event, in the order of the codes; the text form writes the same code as
// two characters.
namespace report_code {
enum : std::uint8_t
{
    kClick = 0x81,
    kCheck,
    kPosition,
    kTouch,
    kKeyPress,
    kDate,
    kTime,
    kBufferWarning,
    kBufferOverflow,
    kLcdState,
    kChecksumError,
    kScreenTouch,
};
static_assert(kScreenTouch == 0x8C);
} // namespace report_code

// Where one value sits in a report. Binary form: width 1 or 2 bytes, high byte first. Text form:
// width hex-digit characters, except for a key byte or a state, which are one character taken as
// it is.
struct ReportSlot
{
    int position;
    int width;
};

enum class ValueFormat
{
    Decimal,   // plain decimal
    TwoDigits, // two decimal digits with a leading zero; of a larger value the last two
    KeyByte,   // the byte itself, as two upper-case hex digits
};

struct ReportValue
{
    std::string_view lead; // written just before the value
    ReportSlot binary;
    ReportSlot text;
    ValueFormat format;
};

// A pressed/released or on/off state: byte 1 or 0 in the binary form, character "1" or "0" in the
// text form. Its text opens the bracket after the event name; any other state gives " (?)" in
// place of the whole bracket.
struct ReportState
{
    ReportSlot binary;
    ReportSlot text;
    std::string_view whenSet;   // state 1
    std::string_view whenClear; // state 0
};

inline constexpr std::string_view kUnknownStateText = " (?)";

// The longest event text a report can decode to, for a decoder that keeps each text in place
// rather than allocating it; the table is checked against it.
inline constexpr int kMostEventTextLength = 64;

// Decoded text: name, then the state's text (if any), then each value after its lead, then
// closing.
struct ReportEvent
{
    std::uint8_t code;
    std::array<char, 2> textCode;
    std::string_view name;
    std::optional<ReportState> state;
    std::array<ReportValue, 3> values;
    int valueCount;
    std::string_view closing;
};

std::span<const ReportEvent> ReportEvents();

// The event whose code is at position 1 (binary) or positions 1 and 2 (text); none when the code
// is not one of the twelve.
const ReportEvent* FindBinaryEvent(std::uint8_t code);
const ReportEvent* FindTextEvent(char first, char second);
