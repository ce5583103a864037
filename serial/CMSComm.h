#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <stdexcept>

class Port;

// A property write the control rejects. The text names the port and the cause,
// e.g. "COM7: in use by another program".
class CommError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The serial control: the properties the console uses, on a port reached through the port folder
// (see PortFolder.h) or named directly: a terminal device, or a port a serial server exports
// across the network (socket://HOST:PORT raw, rfc2217://HOST:PORT with serial settings; see
// Port.h). Its users need not know which. Everything runs on the owning thread, driven by socket
// notifiers; no call waits for the device but closing, which gives the send being written up to
// 2 s to reach it. Received bytes reach their readers two ways: the property interface
// (CommEvent, GetCommEvent, GetInput), and the Received signal, which carries them; each way gets
// every byte once, so a reader of one takes nothing from a reader of the other.
class CMSComm : public QObject
{
    Q_OBJECT

public:
    // CommEvent value when data has arrived.
    static constexpr short kEventReceive = 2;

    explicit CMSComm(QObject* parent = nullptr);
    // Closes the port.
    ~CMSComm() override;

    // Port 1..255 (default 1). Throws while the port is open or for a number outside the range.
    void SetCommPort(short n);
    short GetCommPort() const;

    // A device path or a network address (socket://HOST:PORT, rfc2217://HOST:PORT) to open
    // instead of the port folder's entry, for callers that name one directly; empty (the default)
    // goes back to CommPort. Error texts then name it. Throws while the port is open.
    void SetDevicePath(const QString& path);

    // "speed,parity,data bits,stop bits" (default "9600,n,8,1"). Checked when set: a malformed
    // text throws, naming it, and the previous settings stay. Applied at once while open.
    void SetSettings(const QString& settings);
    QString GetSettings() const { return m_settings; }

    // CommEvent is raised when, after new bytes arrive, at least this many are waiting; 0 (the
    // default) raises none.
    void SetRThreshold(short n);
    // 0 (text) or 1 (bytes). Input is a byte array either way, so only the value is checked.
    void SetInputMode(int mode);

    // Opening throws, naming "COM<n>" and the cause, and leaves the port closed. An entry or path
    // that links to a network address opens that address. Closing never
    // throws and stops at a send boundary (see EndSend): the send being written is finished if the
    // device takes it within 2 s, everything after it is dropped (OutputDropped says how much),
    // and the device is released before the call returns.
    void SetPortOpen(bool open);
    bool GetPortOpen() const;
    // A port across the network is open from SetPortOpen(true) on, but its connection is made
    // afterwards, on the event loop: until Connected (or DeviceLost, which says why it failed)
    // this is true, and output handed over waits in the queue. A local port is ready when
    // SetPortOpen returns, so this is false for it.
    bool IsConnecting() const { return m_connecting; }

    // Each piece reaches the device as one write(2) of its own, in order, never merged or
    // dropped. When the device cannot take a piece yet (or takes only part of it), the rest waits
    // in an ordered queue and later pieces queue behind it. Throws when the port is not open, and
    // when the write finds the device gone: the port is then closed and DeviceLost follows from
    // the event loop with the same text.
    void SetOutput(QByteArrayView piece);

    // Marks the pieces handed over since the last mark as one send, e.g. one statement text.
    // Closing finishes the send being written and drops whole sends after it.
    void EndSend();

    // Sends handed over from now on belong to `group` (0, the default, is no group), so that a
    // group can be told apart in the queue and dropped on its own. Returns the previous group.
    int SetSendGroup(int group);
    // Drops the queued sends of `group` that have not begun; the one being written is finished.
    // Sends of other groups keep their places. Returns the bytes dropped.
    qint64 DropQueuedSends(int group);
    // What the last close or loss of the device dropped of `group`'s output.
    qint64 DroppedAtClose(int group) const { return m_droppedAtClose.value(group); }

    // Output handed over but not yet taken by the device: all of it, or `group`'s.
    qint64 QueuedOutputBytes() const;
    qint64 QueuedOutputBytes(int group) const;
    // Write calls that did not finish their piece because the device was full. Every piece costs
    // one write call, plus these: pieces are never merged.
    qint64 ShortWrites() const { return m_shortWrites; }

    // The bytes that have arrived since GetInput last returned them, at most one read's worth
    // (8 KiB) a pass of the event loop: within the communication event, those that raised it;
    // elsewhere, when none are waiting, one read of the device, whose bytes go out in Received
    // too. What is left raises the event again. Empty when closed, and while a network port has no
    // connection yet. Bytes wait here for GetInput, the device left unread beyond 1 MiB of them
    // until it takes them, unless the port is read through Received alone (Received has a
    // receiver, CommEvent none): then nothing waits, and GetInput returns only what its own read
    // takes.
    QByteArray GetInput();

    // The last event: 0 before any, kEventReceive after data has arrived.
    short GetCommEvent() const;

signals:
    // The connection of a port across the network is made; queued output starts to go.
    void Connected();
    // Bytes read from the device, in order, each once, as soon as they are read: from the event
    // loop when the device has data, whatever the receive threshold, or from within GetInput's
    // own read.
    void Received(const QByteArray& bytes);
    // Data has arrived (GetCommEvent() == kEventReceive); raised once per readable notification,
    // not per byte, after Received.
    void CommEvent();
    // The device hung up or vanished, or a network port failed to connect or lost its
    // connection. Raised once per loss; the port is already closed, and the message names the
    // port (and the far end's host and port).
    void DeviceLost(const QString& message);
    // Something about the port the user should see once, which does not stop it: a request a
    // serial server never answered, for instance. The text names the port.
    void Notice(const QString& text);
    // Closing dropped this many bytes of queued output; raised from within SetPortOpen(false).
    void OutputDropped(qint64 bytes);
    // The device took queued output in a pass of the event loop, or closing finished a send: the
    // queue is shorter, so a sender that hands its output over as the line takes it may go on
    // (or learn that the port has closed).
    void OutputTaken();

private:
    struct Piece
    {
        QByteArray bytes;
        bool endsSend;
        int group;
    };
    enum class Report
    {
        Now,
        FromEventLoop
    };

    QString PortName() const;
    CommError Error(const QString& cause) const;
    void Open();
    // The line can be read and written: watch it.
    void Attach();
    void OnLineConnected();
    void StopWatching();
    // Lets go of the line object (the line is released already).
    void DropLine();
    void Close();
    // Bytes wait for GetInput (see there).
    bool KeepsInput() const;
    // Reads what the device holds, at most one pass's worth and, when bytes wait for GetInput,
    // no more than fits beside them.
    struct ReadOutcome
    {
        QByteArray bytes;
        bool lost = false;
        QString cause;
    };
    ReadOutcome ReadDevice();
    // False when the device is gone; `cause` then says why.
    bool WriteQueued(QString& cause);
    void OnReadable();
    void OnWritable();
    void LoseDevice(const QString& cause, Report report);
    void PopFront();

    short m_port = 1;
    QString m_devicePath;
    QString m_settings = QStringLiteral("9600,n,8,1");
    short m_receiveThreshold = 0;
    short m_commEvent = 0;

    Port* m_line = nullptr; // a child of this; null while closed
    // Counts opens, so a handler can tell that a receiver closed (or reopened) the port under it.
    quint64 m_generation = 0;
    // The line is watched: it can be read and written (a network port: it is connected).
    bool m_attached = false;
    std::deque<Piece> m_outQueue;
    qsizetype m_headWritten = 0;
    // Earlier pieces of the send at the head of the queue have been written: it has begun.
    bool m_headSendBegun = false;
    bool m_connecting = false;
    int m_sendGroup = 0;
    // Bytes of whole pieces in the queue, by group.
    QHash<int, qint64> m_queuedByGroup;
    QHash<int, qint64> m_droppedAtClose;
    qint64 m_shortWrites = 0;
    QByteArray m_input; // waiting for GetInput
};

// Tags the sends handed over to `comm` during its life with `group`.
class SendGroupScope
{
public:
    SendGroupScope(CMSComm& comm, int group) : m_comm(comm), m_previous(comm.SetSendGroup(group)) {}
    ~SendGroupScope() { m_comm.SetSendGroup(m_previous); }
    SendGroupScope(const SendGroupScope&) = delete;
    SendGroupScope& operator=(const SendGroupScope&) = delete;

private:
    CMSComm& m_comm;
    int m_previous;
};
