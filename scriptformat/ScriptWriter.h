#pragma once

#include "scriptformat/Script.h"
#include "support/FileReplace.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>

// The lines a recording writes, each without its line end. Every line reads back through the
// script parser as the step that repeats what was recorded.
namespace script_line {

// "send TEXT" when the bytes are text that reads back to the same bytes in the module's code
// page and survives the parser (one line, no blanks at its ends, no control characters);
// otherwise "sendhex HH HH ...", which holds any bytes.
QByteArray Send(QByteArrayView bytes);
// "expect TEXT within MS". The text is the report line as seen; a "#" (which the parser could
// take for a comment) becomes "?", and "*" or "?" in the text, which the pattern reads as
// wildcards, still match themselves.
QByteArray Expect(QByteArrayView reportLine, int withinMs);
QByteArray Wait(int ms);
// "touch X,Y", "press X,Y", "move X,Y", "release X,Y".
QByteArray Point(const char* step, QPoint at);
QByteArray Key(std::uint8_t code);
// "event NAME" with a name the parser knows (see EventStepName).
QByteArray Event(const QString& name);
// "screen FILE" with the check's options; empty when the parser could not read the name back
// as it is (blanks at its ends, a line break, " #", an option's name among its words).
QByteArray Screen(const QString& file, const ScreenCheck& check = {});
// "# TEXT"; line breaks in the text become blanks.
QByteArray Comment(const QString& text);

} // namespace script_line

// The limit a recorded expect gets for a report that came `latencyMs` after its send: twice the
// latency, rounded up to whole 100 ms, at least 200 ms, so a replay on a loaded machine passes.
int RecordedExpectLimit(qint64 latencyMs);

// A script file being recorded. Lines go to a temporary file beside the target as they come, so
// memory stays flat however long the recording runs; Finish renames it over the target, so the
// target holds either its old content or the whole recording, never a part. The first failure is
// kept and everything after it is ignored, so a full disk is reported once.
class ScriptFile
{
public:
    // Opens the temporary file; false with the cause in `error` when it cannot be made.
    bool Open(const QString& path, QString* error);
    bool IsOpen() const { return m_file != nullptr; }
    QString Path() const { return m_path; }

    void Append(QByteArrayView line);
    // The first write that failed, with its cause; empty while every write went through.
    QString Error() const { return m_error; }

    // Writes what is left and puts the file in place; false with the cause when any write failed,
    // in which case the target is left as it was.
    bool Finish(QString* error);
    // Drops the recording; the target is left as it was.
    void Discard();

private:
    std::unique_ptr<FileReplacement> m_file;
    QString m_path;
    QString m_error;
};
