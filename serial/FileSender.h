#pragma once

#include "serial/CMSComm.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

// Sends a file's bytes, as they are, through the serial control: read in blocks as the line takes
// them, so a file of any size costs a bounded amount of memory. Each block is a send of its own,
// which is where a cancel or a close may cut the file. On a port whose line does not hold back
// (across the network, see CMSComm::IsPacedByDevice) the blocks are also handed over no faster
// than the rate given, so progress, a cancel and a close mean the same as on a local device.
class FileSender : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Sent,
        Cancelled,
        PortClosed,
        DeviceLost,
        ReadFailed,
    };
    Q_ENUM(Outcome)

    // The send group of the file's blocks in the serial control.
    static constexpr int kSendGroup = 2;
    // Output of the file waiting in the control at most (plus one block).
    static constexpr qint64 kQueueLimit = 64 * 1024;

    explicit FileSender(CMSComm& comm, QObject* parent = nullptr);

    // Starts sending `path` on the open port; blocks hold about 100 ms of a line taking
    // `bytesPerSecond`, which is also the pace by the clock where the line does not hold back.
    // Returns an empty text when sending has begun, else why it has not.
    QString Start(const QString& path, int bytesPerSecond);
    // Drops the blocks not yet begun; the one being written is finished. Finished follows.
    void Cancel();

    bool IsSending() const { return m_sending; }
    qint64 Total() const { return m_total; }
    // Bytes the device has taken.
    qint64 Sent() const;
    // What a cancel, close or read failure left unsent; valid once Finished has been raised.
    qint64 NotSent() const { return m_notSent; }
    QString FileName() const;
    // Why reading failed, for Outcome::ReadFailed.
    QString ReadError() const { return m_readError; }
    qsizetype BlockSize() const { return m_block; }
    // Bytes told through Taken so far.
    qint64 TakenTold() const { return m_told; }

signals:
    // Sending has begun; raised from within Start, before any block is handed over.
    void Started(const QString& fileName, qint64 total);
    void Progress(qint64 sent, qint64 total);
    // Bytes of the file the device has taken, in order: each block once the device has taken all
    // of it, and at the end the part of a block a cut left. Together they are the bytes sent.
    void Taken(const QByteArray& bytes);
    void Finished(FileSender::Outcome outcome, qint64 notSent);

private:
    void Refill();
    void ScheduleRefill();
    void OnPortGone(Outcome outcome);
    void Finish(Outcome outcome, qint64 notSent);
    // Raises Taken for the blocks wholly within the first `taken` bytes of the file.
    void TellTaken(qint64 taken);
    // Milliseconds until the clock allows the next block; 0 when it may go now.
    qint64 AheadOfClockMs() const;

    CMSComm& m_comm;
    QFile m_file;
    qint64 m_total = 0;
    qint64 m_handed = 0;
    qint64 m_notSent = 0;
    qsizetype m_block = 4096;
    int m_bytesPerSecond = 0;
    bool m_pacedByClock = false;
    QElapsedTimer m_clock;
    QTimer m_clockTimer;
    bool m_sending = false;
    bool m_refillScheduled = false;
    QString m_readError;
    // Blocks handed over whose taking has not been told yet (at most the queue limit and one
    // block), and the bytes told.
    std::deque<QByteArray> m_untold;
    qint64 m_told = 0;
};

// The receive view's note on how a file send ended.
QString FileSendNote(const QString& fileName, FileSender::Outcome outcome, qint64 total,
                     qint64 notSent, const QString& readError);
