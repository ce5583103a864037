#pragma once

#include "support/UniqueFd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

// Appends 8-bit characters (one per received character, as the receive view holds them) to `out`
// as UTF-8, so a saved or logged session reads the same in any editor.
void AppendLatin1AsUtf8(QByteArray& out, QByteArrayView latin1);

// The stamp that begins a line: its local time as "hh:mm:ss.mmm ", written at `out`. Written by
// hand because a stamp can begin every few bytes of a fast stream.
constexpr qsizetype kTimeStampLength = 13;
void WriteTimeStamp(QTime time, char* out);

// The local time now, for stamps. Asking the time zone costs microseconds, so its offset is looked
// up again only when the second changes.
QTime CurrentLocalTime();

// A live record of the receive view in a file. The text is gathered in memory and written in one
// write per flush: on a timer, when enough has gathered, and when the log stops; so the thread
// that shows the text never waits on the disk for more than one small write. The file is opened
// for appending and never truncated: choosing an old log continues it instead of losing it.
class ReceiveLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFlushMilliseconds = 200;
    static constexpr qsizetype kFlushBytes = 64 * 1024;

    explicit ReceiveLog(QObject* parent = nullptr);
    ~ReceiveLog() override;
    ReceiveLog(const ReceiveLog&) = delete;
    ReceiveLog& operator=(const ReceiveLog&) = delete;

    // Stops any log running, then opens `path` (created when missing). On failure the log stays
    // stopped and `error` holds the cause.
    bool Start(const QString& path, QString* error);

    // Writes what has gathered and closes the file; a failure of that last write is reported by
    // Failed like any other.
    void Stop();

    bool IsActive() const { return m_fd.isValid(); }
    QString Path() const { return m_path; }

    void Write(QByteArrayView latin1);

signals:
    // A write failed: the log has stopped, and everything written before stays in the file.
    void Failed(const QString& path, const QString& cause);

private:
    void Flush();
    void Close();

    UniqueFd m_fd;
    QString m_path;
    QByteArray m_pending;
    QTimer m_flushTimer;
};
