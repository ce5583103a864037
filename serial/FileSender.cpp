#include "serial/FileSender.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// A block holds about this share of a second of the line, so a cancel or close cuts the file
// within that much line time; bounded so an unpaced line still gets pieces worth a write call.
constexpr int kBlocksPerSecond = 10;
constexpr qsizetype kMinBlock = 64;
constexpr qsizetype kMaxBlock = 8 * 1024;
// What one pass of the event loop hands over at most, so a device that takes everything at once
// cannot keep the loop from its other work.
constexpr qint64 kPerPass = 32 * 1024;

} // namespace

FileSender::FileSender(CMSComm& comm, QObject* parent) : QObject(parent), m_comm(comm)
{
    connect(&m_comm, &CMSComm::OutputTaken, this, &FileSender::Refill);
    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &FileSender::Refill);
    connect(&m_comm, &CMSComm::OutputDropped, this, [this] { OnPortGone(Outcome::PortClosed); });
    connect(&m_comm, &CMSComm::DeviceLost, this, [this] { OnPortGone(Outcome::DeviceLost); });
}

QString FileSender::FileName() const
{
    return QFileInfo(m_file.fileName()).fileName();
}

QString FileSender::Start(const QString& path, int bytesPerSecond)
{
    if (m_sending)
        return QStringLiteral("A file is being sent already: %1.").arg(FileName());
    const QFileInfo info(path);
    const QString shown = QStringLiteral("\"%1\"").arg(path);
    if (!info.exists())
        return shown + QStringLiteral(" does not exist.");
    if (info.isDir())
        return shown + QStringLiteral(" is a folder; choose a file to send.");
    // Opening a pipe would wait for its writer with the window frozen, and a device such as
    // /dev/zero never ends.
    if (!info.isFile())
        return shown + QStringLiteral(" is not a regular file; only files can be sent.");
    if (!m_comm.GetPortOpen())
        return QStringLiteral("The port is not open: open it before sending a file.");
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return shown + QStringLiteral(" cannot be read: %1.").arg(m_file.errorString());
    if (m_file.size() == 0) {
        m_file.close();
        return shown + QStringLiteral(" is empty: it has no bytes to send.");
    }
    m_total = m_file.size();
    m_handed = 0;
    m_notSent = 0;
    m_readError.clear();
    m_untold.clear();
    m_told = 0;
    m_block = std::clamp<qsizetype>(bytesPerSecond / kBlocksPerSecond, kMinBlock, kMaxBlock);
    m_bytesPerSecond = std::max(bytesPerSecond, 1);
    m_pacedByClock = !m_comm.IsPacedByDevice();
    m_clock.start();
    m_sending = true;
    emit Started(FileName(), m_total);
    Refill();
    return {};
}

qint64 FileSender::Sent() const
{
    if (!m_sending)
        return m_total - m_notSent;
    return m_handed - m_comm.QueuedOutputBytes(kSendGroup);
}

void FileSender::ScheduleRefill()
{
    if (m_refillScheduled)
        return;
    m_refillScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_refillScheduled = false;
        Refill();
    });
}

void FileSender::Refill()
{
    if (!m_sending)
        return;
    if (!m_comm.GetPortOpen()) {
        OnPortGone(Outcome::PortClosed);
        return;
    }
    qint64 handedNow = 0;
    while (m_handed < m_total && m_comm.QueuedOutputBytes(kSendGroup) < kQueueLimit &&
           handedNow < kPerPass && AheadOfClockMs() == 0) {
        const QByteArray block = m_file.read(std::min<qint64>(m_block, m_total - m_handed));
        if (block.isEmpty()) {
            // An error, or the file was cut short while it was being sent.
            m_readError = m_file.error() != QFileDevice::NoError ? m_file.errorString()
                                                                 : QStringLiteral("it ended early");
            Finish(Outcome::ReadFailed, m_total - m_handed + m_comm.DropQueuedSends(kSendGroup));
            return;
        }
        // Counted before it is handed over: a device lost in this write counts it as dropped.
        m_handed += block.size();
        handedNow += block.size();
        m_untold.push_back(block);
        try {
            const SendGroupScope group(m_comm, kSendGroup);
            m_comm.SetOutput(block);
            m_comm.EndSend();
        } catch (const CommError&) {
            return; // DeviceLost follows from the event loop and ends the send
        }
    }
    if (m_handed == m_total && m_comm.QueuedOutputBytes(kSendGroup) == 0) {
        emit Progress(m_total, m_total);
        Finish(Outcome::Sent, 0);
        return;
    }
    TellTaken(Sent());
    emit Progress(Sent(), m_total);
    // With nothing queued the control raises no more OutputTaken; the next pass goes on, or the
    // clock's next turn.
    if (const qint64 wait = m_handed < m_total ? AheadOfClockMs() : 0; wait > 0)
        m_clockTimer.start(std::chrono::milliseconds(wait));
    else if (m_comm.QueuedOutputBytes() == 0 || handedNow >= kPerPass)
        ScheduleRefill();
}

qint64 FileSender::AheadOfClockMs() const
{
    if (!m_pacedByClock)
        return 0;
    // One block ahead of the clock, as a device's own buffer would hold.
    const qint64 due = (m_handed - m_block) * 1000 / m_bytesPerSecond;
    return std::max<qint64>(0, due - m_clock.elapsed());
}

void FileSender::Cancel()
{
    if (!m_sending)
        return;
    const qint64 dropped = m_comm.GetPortOpen() ? m_comm.DropQueuedSends(kSendGroup) : 0;
    Finish(Outcome::Cancelled, m_total - m_handed + dropped);
}

void FileSender::OnPortGone(Outcome outcome)
{
    if (!m_sending)
        return;
    // The control's queue went with the port; it recorded what it dropped of the file.
    Finish(outcome, m_total - m_handed + m_comm.DroppedAtClose(kSendGroup));
}

void FileSender::TellTaken(qint64 taken)
{
    while (!m_untold.empty() && m_told + m_untold.front().size() <= taken) {
        m_told += m_untold.front().size();
        emit Taken(m_untold.front());
        m_untold.pop_front();
    }
}

void FileSender::Finish(Outcome outcome, qint64 notSent)
{
    const qint64 taken = m_total - notSent;
    TellTaken(taken);
    if (!m_untold.empty() && taken > m_told) {
        const QByteArray cut = m_untold.front().first(taken - m_told);
        m_told = taken;
        emit Taken(cut);
    }
    m_untold.clear();
    m_clockTimer.stop();
    m_sending = false;
    m_notSent = notSent;
    m_file.close();
    emit Finished(outcome, notSent);
}

QString FileSendNote(const QString& fileName, FileSender::Outcome outcome, qint64 total,
                     qint64 notSent, const QString& readError)
{
    QString reason;
    switch (outcome) {
    case FileSender::Outcome::Sent:
        return QStringLiteral("[Send File: %1 bytes of %2 were sent]").arg(total).arg(fileName);
    case FileSender::Outcome::Cancelled:
        reason = QStringLiteral("cancelled");
        break;
    case FileSender::Outcome::PortClosed:
        reason = QStringLiteral("the port was closed");
        break;
    case FileSender::Outcome::DeviceLost:
        reason = QStringLiteral("the device was lost");
        break;
    case FileSender::Outcome::ReadFailed:
        reason = QStringLiteral("the file could not be read (%1)").arg(readError);
        break;
    }
    return QStringLiteral("[Send File: %1 of %2 bytes of %3 were not sent: %4]")
        .arg(notSent)
        .arg(total)
        .arg(fileName, reason);
}
