#pragma once

#include "serial/LineSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <chrono>

// One line to a module, whatever carries it: a terminal device of this machine, or a port that a
// serial server exports across the network. The serial control keeps the rules of the output
// queue and the reports; a leaf moves bytes, says when its line has data or room (on POSIX
// through DescriptorPort; a Windows serial leaf would use its own event notifier) and knows what
// its line needs to be set up and released. Everything runs on the owning thread; nothing here
// waits, but Release and WriteBefore, which are bounded by the caller's deadline.
class Port : public QObject
{
    Q_OBJECT

public:
    using Deadline = std::chrono::steady_clock::time_point;

    struct ReadOutcome
    {
        QByteArray bytes;
        bool lost = false;
        QString cause;
    };

    using QObject::QObject;

    // Starts using the line with `settings`. Returns the cause when it cannot, else empty: the
    // line is then ready (IsAttached()), or, for a line still connecting, reports later by
    // Attached and Connected, or by Failed.
    virtual QString Open(const LineSettings& settings) = 0;
    // The line can be read and written: at once for a local line, from Attached on for one that
    // connects.
    virtual bool IsAttached() const = 0;
    // Whether Readable and Writable are raised while the line has data or room; both start off.
    virtual void WatchRead(bool on) = 0;
    virtual void WatchWrite(bool on) = 0;
    // Applies new settings; a line still connecting applies them once it can. Returns the cause
    // when the line refuses them, else empty.
    virtual QString ApplySettings(const LineSettings& settings) = 0;

    // The data that has arrived, at most `most` bytes of it. `lost` when the line is gone.
    virtual ReadOutcome Read(qsizetype most) = 0;
    // Hands `data` to the line in one write call. Returns how many bytes it took (0 when it is
    // full), or -1 with `cause` when the line is gone.
    virtual qsizetype Write(QByteArrayView data, QString& cause) = 0;
    // Bytes of the line's own (negotiation, requests, the rest of an escaped piece) wait for room;
    // the caller calls WriteOwnOutput when the descriptor is writable. False when the line is
    // gone, with `cause`.
    virtual bool HasOwnOutput() const { return false; }
    virtual bool WriteOwnOutput(QString& cause)
    {
        Q_UNUSED(cause);
        return true;
    }

    // For closing: hands `data` over, waiting for room until `deadline`. Returns the bytes taken.
    virtual qsizetype WriteBefore(QByteArrayView data, Deadline deadline) = 0;
    // Gives what was handed over until `deadline` to leave, then releases the line. Idempotent.
    virtual void Release(Deadline deadline) = 0;

signals:
    // The line has data (or has hung up), or has room for output; see WatchRead, WatchWrite.
    void Readable();
    void Writable();
    // A line that connects can be read and written now; data may arrive from here on.
    void Attached();
    // The line is set up: queued output may go.
    void Connected();
    // Connecting failed, or a wait the line bounds ran out; `cause` names the far end.
    void Failed(const QString& cause);
    // Something the user should know once, which does not stop the line (a request the server
    // never answered).
    void Notice(const QString& text);
    // The line has bytes of its own waiting for room (see HasOwnOutput).
    void OwnOutputWaiting();
};
