#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One line of a test script (".ots": UTF-8, one step a line, "#" starts a comment).
struct ScriptStep
{
    enum class Kind
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
        Screen,  // screen FILE.png [tolerance N]
    };

    Kind kind = Kind::Wait;
    int line = 0;       // 1-based, in the script file
    QString source;     // the step as written, without comment and surrounding blanks
    QString text;       // Send: the statement text
    QByteArray bytes;   // SendHex: the bytes
    QByteArray pattern; // Expect, ExpectNone: the pattern, in UTF-8
    int ms = 0;         // Expect: limit; ExpectNone: length; Wait: length
    QPoint point;       // Touch, Press, Move, Release
    std::uint8_t key = 0;
    std::uint8_t eventCode = 0; // Event: the report code, 0x81..0x8C
    bool eventState = false;    // Event: down for "screen touch down"
    bool eventBoth = false;     // Event: "screen touch" sends down, then up
    QString file;               // Screen: the reference picture, as written
    int tolerance = 0;          // Screen: per channel

    // Counts as a test in the summary and in JUnit.
    bool IsTest() const
    {
        return kind == Kind::Expect || kind == Kind::ExpectNone || kind == Kind::Screen;
    }
    // Needs the module's screen or touch panel, which only the virtual module offers.
    bool IsVirtualOnly() const { return kind >= Kind::Touch; }
};

struct ScriptError
{
    int line = 0; // 0: the file as a whole
    QString message;
};

struct Script
{
    QString path; // as given on the command line
    std::vector<ScriptStep> steps;
};

inline constexpr int kDefaultExpectMs = 1000;
// No wait of a script may be longer: a typing slip must not park a CI job for days.
inline constexpr int kMostStepMs = 3600 * 1000;
// Longer lines are refused; no statement the module takes is longer (64 KiB), and a file that is
// not a script at all fails fast instead of filling memory.
inline constexpr qsizetype kMostLineBytes = 64 * 1024;
inline constexpr qsizetype kMostScriptBytes = 64 * 1024 * 1024;

// Every error of the text, in line order; the steps are valid only when there is none.
struct ParseOutcome
{
    std::vector<ScriptStep> steps;
    std::vector<ScriptError> errors;
};
ParseOutcome ParseScript(QByteArrayView content);

// Reads and parses a script file. A file that cannot be read, a folder, a file over
// kMostScriptBytes and text that is not UTF-8 give one error (with the line of the first bad
// byte where there is one).
ParseOutcome LoadScript(const QString& path);

// The first virtual-only step, for refusing a script against a real module before anything is
// sent.
std::optional<ScriptError> FindVirtualOnlyStep(const std::vector<ScriptStep>& steps);

// "FILE:LINE: message", or "FILE: message" for line 0.
QString FormatScriptError(const QString& path, const ScriptError& error);

// The name of the event a code stands for, as an "event" step writes it; empty for others.
QString EventStepName(std::uint8_t code, bool state, bool both);
