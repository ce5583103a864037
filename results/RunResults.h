#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <vector>

// A whole run of test scripts as plain data: the scripts read, and every run of a script on a
// port (each round of a repeat its own run) with its steps' outcomes and what went over the line.
// The results file, the latency statistics, the comparison with a baseline and the HTML report
// all read this; nothing here knows the runner.
//
// How a runner fills it, as things happen:
//  - at the start: `started` (UTC) and a steady clock started with it. Every time in the model
//    is milliseconds on that clock since that moment, so runs on several ports at once share
//    one time line;
//  - for each script read: a ScriptInfo with the path as given, ScriptDigest() of the file's
//    bytes and a StepInfo per step; one per path, however often the script is named or run;
//  - for each run of a script on a port: a ScriptRun appended to `runs`. Keep its index rather
//    than a reference: a run started meanwhile on another port may move the vector;
//  - as the run goes: a TranscriptEntry for each statement sent, each report line decoded and
//    each step's start and end; a StepRun per step when it ends (steps never reached are
//    "skipped" with the reason, as the runner reports them).

enum class StepStatus
{
    Passed,
    Failed,
    Skipped,
};

// A step of a script, as written.
struct StepInfo
{
    int line = 0;   // 1-based, in the script file; one step a line
    QString kind;   // the step's keyword: "send", "sendhex", "expect", "expect-none", "wait",
                    // "touch", "press", "move", "release", "key", "event", "screen"
    QString source; // the step as written, without comment and surrounding blanks

    bool operator==(const StepInfo&) const = default;
};

struct ScriptInfo
{
    QString path;                // as given to the runner; runs name their script by it
    QString sha256;              // ScriptDigest() of the file's bytes: tells an edited script
    std::vector<StepInfo> steps; // in line order

    bool operator==(const ScriptInfo&) const = default;
};

// A failed screen step's pictures, as PNG files; an empty path where there is none (no
// difference picture when the sizes differ, say).
struct ScreenPictures
{
    QString reference;
    QString actual;
    QString difference;

    bool IsEmpty() const { return reference.isEmpty() && actual.isEmpty() && difference.isEmpty(); }
    bool operator==(const ScreenPictures&) const = default;
};

// One step of one script run.
struct StepRun
{
    int line = 0; // the step's line: which StepInfo of the script this is
    StepStatus status = StepStatus::Skipped;
    double startMs = 0;
    double endMs = 0;
    // An expect step that passed: from the last stimulus to the matching report. -1 otherwise.
    double latencyMs = -1;
    QString reason; // why it failed or was skipped
    // A failure's account: the last report lines seen, oldest first. Report lines are the
    // decoder's text, which may hold any byte.
    std::vector<QByteArray> reportsSeen;
    ScreenPictures pictures;

    bool operator==(const StepRun&) const = default;
};

// What a person reading the run's log would want to see, in time order.
struct TranscriptEntry
{
    enum class Kind
    {
        Sent,      // a statement or bytes sent; `text` as a person reads it
        Report,    // a report line decoded from the module
        StepStart, // `line` names the step
        StepEnd,   // `line` names the step; its StepRun tells how it ended
        Note,      // anything else worth a line: a prompt to act by hand, a port lost
    };
    double atMs = 0;
    Kind kind = Kind::Note;
    int line = 0;    // StepStart and StepEnd; 0 for the others
    QByteArray text; // UTF-8 where it can be; bytes that are not survive as they are

    bool operator==(const TranscriptEntry&) const = default;
};

// One run of one script on one port.
struct ScriptRun
{
    QString port;   // "COM7", a device's path, or "virtual"
    QString script; // the ScriptInfo::path of the script run
    int repeat = 1; // the round of a repeated run, from 1
    double startMs = 0;
    double endMs = 0;
    std::vector<StepRun> steps; // in the script's order, each line at most once
    std::vector<TranscriptEntry> transcript;

    bool operator==(const ScriptRun&) const = default;
};

struct RunResults
{
    QDateTime started; // UTC, to the millisecond; every *Ms time counts from here
    std::vector<ScriptInfo> scripts;
    std::vector<ScriptRun> runs;

    bool operator==(const RunResults&) const = default;
};

// "passed", "failed", "skipped": the words of the results file and the report.
QString StatusName(StepStatus status);

// Lower-case hexadecimal SHA-256 of a script file's bytes.
QString ScriptDigest(QByteArrayView content);

// Steps that count as tests: they pass or fail on what the module did.
bool IsTestKind(const QString& kind);

// Steps the summary counts: the tests, and any other step that failed (it failed the run).
bool CountsInSummary(const StepInfo& step, const StepRun& run);

const ScriptInfo* FindScript(const RunResults& results, const QString& path);
const StepInfo* FindStep(const ScriptInfo& script, int line);

// The length of the well-formed UTF-8 character that `bytes` starts with; 0 when it starts with
// none (an empty view, a stray byte, an overlong form, a surrogate, a value past U+10FFFF).
int Utf8CharLength(QByteArrayView bytes);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF): text from the line is shown as text only then.
bool IsUtf8(QByteArrayView bytes);
