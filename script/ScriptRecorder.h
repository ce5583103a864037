#pragma once

#include "report/ReportDecoder.h"
#include "scriptformat/ScriptWriter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

#include <functional>

// Turns a console session into a script while it happens: each send becomes a "send" (or
// "sendhex") line with the bytes as sent, each report of a known code an "expect" of its text
// with a limit taken from the time it took to come. Widget-free, so the console only forwards
// what it sends and decodes.
//
// A report counts as the answer to the last send when it comes within kAnswerWindowMs of it; its
// limit is then twice that latency (RecordedExpectLimit). A report with no send before it, or
// one that comes later than that (a person touching the module long after the last statement),
// stands for an action on the module: a comment line above its expect says a touch or key is
// needed there, and it gets kUnpromptedMs. Reports that follow such a report within the window
// (the release after a press) are measured from it, as they answer the same action.
//
// A write that fails ends the recording at once: the file is dropped (the target keeps what it
// held, and the space the recording took is given back) and the failure handler is told, once.
//
// The pattern language has no escape: a "*" or "?" in a report is written as it is and, being a
// wildcard, still matches itself (see script_line::Expect).
class ScriptRecorder
{
public:
    static constexpr qint64 kAnswerWindowMs = 2000;
    static constexpr int kUnpromptedMs = 30000;
    // A sent file up to this size is recorded block by block; a larger one only by name, since
    // its sendhex lines (three characters a byte) would pass what a script may hold.
    static constexpr qint64 kMostFileBytes = 4 * 1024 * 1024;

    // `nowMs` is a monotonic clock in milliseconds; a steady clock of its own when empty.
    explicit ScriptRecorder(std::function<qint64()> nowMs = {});
    ~ScriptRecorder();

    // Starts a recording into `path`; what was there stays until Stop puts the whole recording
    // in its place. False with the cause when the file cannot be made.
    bool Start(const QString& path, QString* error);
    bool IsRecording() const { return m_file.IsOpen(); }
    QString Path() const { return m_file.Path(); }

    // Called with the cause when a write fails and the recording has been dropped.
    void SetFailureHandler(std::function<void(const QString& error)> handler)
    {
        m_onFailed = std::move(handler);
    }

    // A send the console made; empty sends write nothing and are not recorded.
    void Sent(QByteArrayView bytes);
    // What the console's decoder made of a read; its reports of a known code are recorded, but
    // not one that had begun before the recording did, as the recording did not see it caused.
    void Decoded(const DecodedRead& read);
    // One report line, as the script runner sees it.
    void Reported(QByteArrayView line);

    // A file sent as it is (Send File), `size` bytes of which `alreadySent` went out before the
    // recording began. A comment names it; its blocks follow as sends as the line takes them.
    void FileStarted(const QString& name, qint64 size, qint64 alreadySent);
    // Bytes of that file the line has taken: a block, or the part of one a cut left.
    void FileSent(QByteArrayView bytes);
    // How the file's send ended, as a comment.
    void FileFinished(const QString& note);

    // Finishes the file; false with the cause when it could not be put in place, the target then
    // left as it was. Nothing happens, and true is returned, when no recording is going on (a
    // failed write has ended it already).
    bool Stop(QString* error);

private:
    qint64 Now() const;
    void Write(QByteArrayView lines);
    // The lines of one report, each with its line end.
    void AddExpect(QByteArrayView line, QByteArray& out);

    std::function<qint64()> m_nowMs;
    QElapsedTimer m_steady;
    ScriptFile m_file;
    // A report may have begun before the recording started: true until a read shows that none
    // had (a report ends, or one starts).
    bool m_reportMayHaveBegunBefore = false;
    QByteArray m_batch;
    qint64 m_stimulusMs = -1;          // the last send, or the last report that stood for an action
    bool m_fileBlocksRecorded = false; // the file being sent is small enough to repeat
    std::function<void(const QString&)> m_onFailed;
};
