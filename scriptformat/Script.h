#pragma once

#include "protocol/EventTable.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// A run of bytes of a script file.
struct TextSpan
{
    std::uint32_t at = 0;
    std::uint32_t size = 0;
};

// One line of a test script (".ots": UTF-8, one step a line, "#" starts a comment). A script may
// hold millions of steps, so a step keeps no text of its own: its texts are spans of the file's
// bytes, which the Script holds once, and are read through the Script.
struct ScriptStep
{
    enum class Kind : std::uint8_t
    {
        Send,       // send TEXT: as the console's Send sends the transmit box
        SendHex,    // sendhex HH HH ...: raw bytes
        Expect,     // expect PATTERN [within MS]
        ExpectNone, // expect-none PATTERN for MS
        Wait,       // wait MS
        // The virtual module only:
        Touch,   // touch X,Y: press and release
        Press,   // press X,Y
        Move,    // move X,Y
        Release, // release X,Y
        Key,     // key CODE
        Event,   // event NAME: one of the module's hand-sent reports
        Screen,  // screen FILE.png [tolerance N] [max-diff P%] [mask X,Y,W,H]...
    };

    Kind kind = Kind::Wait;
    std::uint8_t key = 0;
    std::uint8_t eventCode = 0; // Event: the report code, 0x81..0x8C
    bool eventState = false;    // Event: down for "screen touch down"
    bool eventBoth = false;     // Event: "screen touch" sends down, then up
    std::int16_t x = 0;         // Touch, Press, Move, Release
    std::int16_t y = 0;
    int line = 0; // 1-based, in the script file
    int ms = 0;   // Expect: limit; ExpectNone: length; Wait: length
    // The step as written, without comment and surrounding blanks.
    TextSpan source;
    // Send: the statement text; SendHex: the hex digits; Expect, ExpectNone: the pattern;
    // Screen: the reference picture, as written.
    TextSpan argument;

    QPoint Point() const { return {x, y}; }
    // Counts as a check: in the summary and as a test case in JUnit.
    bool IsTest() const
    {
        return kind == Kind::Expect || kind == Kind::ExpectNone || kind == Kind::Screen;
    }
    // Needs the module's screen or touch panel, which only the virtual module offers.
    bool IsVirtualOnly() const { return kind >= Kind::Touch; }
};

// What a screen step compares, as its line says: after the file, in any order, "tolerance N"
// (0..255 per colour channel), "max-diff P%" (the share of the compared pixels that may differ,
// up to three decimals) and any number of "mask X,Y,W,H" (areas left out).
struct ScreenCheck
{
    static constexpr int kWidth = kScreenWidth;
    static constexpr int kHeight = kScreenHeight;

    int tolerance = 0;
    int maxDiffMilli = 0; // thousandths of a percent, 0..100000
    std::vector<QRect> masks;

    bool operator==(const ScreenCheck&) const = default;
};

// "2.5%" for 2500 thousandths of a percent, as max-diff is written: no trailing zeros.
QString ShareText(qint64 milli);

struct ScriptError
{
    int line = 0; // 0: the file as a whole
    QString message;
};

struct Script
{
    QString path;    // as given on the command line
    QByteArray text; // the file's bytes, which the steps' spans point into
    std::vector<ScriptStep> steps;

    QString Source(const ScriptStep& step) const { return Decoded(step.source); }
    // Send: the statement, before it becomes code page 949 bytes.
    QString Statement(const ScriptStep& step) const { return Decoded(step.argument); }
    // Expect, ExpectNone: the pattern, in UTF-8.
    QByteArrayView Pattern(const ScriptStep& step) const { return Bytes(step.argument); }
    // SendHex: the bytes to send.
    QByteArray HexBytes(const ScriptStep& step) const;
    // Screen: the reference picture's name as written.
    QString File(const ScriptStep& step) const { return Decoded(step.argument); }
    // Screen: how it compares. Read again from the step's text, which the parser has checked, so
    // that a step keeps no more than its spans.
    ScreenCheck Screen(const ScriptStep& step) const;

private:
    QByteArrayView Bytes(TextSpan span) const
    {
        return QByteArrayView(text).sliced(span.at, span.size);
    }
    // A mark (U+FEFF) that starts a span is a character of it, as everywhere else in a line, so
    // that a text is never shorter than the bytes its span counts.
    QString Decoded(TextSpan span) const;
};

inline constexpr int kDefaultExpectMs = 1000;
// No wait of a script may be longer: a typing slip must not park a CI job for days.
inline constexpr int kMostStepMs = 3600 * 1000;
// Longer lines are refused; no statement the module takes is longer (64 KiB), and a file that is
// not a script at all fails fast instead of filling memory.
inline constexpr qsizetype kMostLineBytes = 64 * 1024;
inline constexpr qsizetype kMostScriptBytes = 64 * 1024 * 1024;

// The script, with every error of its text in line order (the steps are valid only when there is
// none) and warnings about steps that run but likely not as meant.
struct ParseOutcome : Script
{
    std::vector<ScriptError> errors;
    std::vector<ScriptError> warnings;
};
// Lines end with LF, CR LF or a CR alone.
ParseOutcome ParseScript(QByteArray content);

// Reads and parses a script file. A file that cannot be read, a folder, a file over
// kMostScriptBytes, a script too large for the memory at hand and text that is not UTF-8 give
// one error (with the line of the first bad byte where there is one).
ParseOutcome LoadScript(const QString& path);

// The first virtual-only step, for refusing a script against a real module before anything is
// sent.
std::optional<ScriptError> FindVirtualOnlyStep(const Script& script);

// "FILE:LINE: message", or "FILE: message" for line 0.
QString FormatScriptError(const QString& path, const ScriptError& error);

// The name of the event a code stands for, as an "event" step writes it; empty for others.
QString EventStepName(std::uint8_t code, bool state, bool both);
