#include "serial/CMSComm.h"

#include "serial/LineSettings.h"
#include "serial/NetworkAddress.h"
#include "serial/NetworkPort.h"
#include "serial/PortFolder.h"
#include "serial/TerminalPort.h"

#include <QMetaMethod>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace {

// Input waiting for GetInput beyond this is left in the kernel, which holds the sender back,
// until the console asks for it: memory stays bounded and nothing is dropped.
constexpr qsizetype kInputLimit = 1 << 20;
// What one pass of the event loop reads at most. A fast sender keeps a terminal from ever
// running empty, so reading "until nothing is left" could gather a megabyte in one pass and
// freeze the window while it is shown; what is left wakes the notifier again on the next pass.
constexpr qsizetype kReadPerPass = 8 * 1024;

// How long closing may take to finish the send being written: a statement cut in half would
// corrupt the module's next one, but the user must not wait long for the port to be released.
constexpr std::chrono::seconds kFinishSendLimit{2};

const QString kNoSuchPort = QStringLiteral("no such port");

} // namespace

CMSComm::CMSComm(QObject* parent) : QObject(parent) {}

CMSComm::~CMSComm()
{
    Close();
}

QString CMSComm::PortName() const
{
    if (!m_devicePath.isEmpty())
        return m_devicePath;
    return QStringLiteral("COM%1").arg(m_port);
}

CommError CMSComm::Error(const QString& cause) const
{
    return CommError((PortName() + QStringLiteral(": ") + cause).toStdString());
}

void CMSComm::SetCommPort(short n)
{
    if (m_line)
        throw Error(QStringLiteral("cannot change the port while it is open"));
    if (n < 1 || n > 255)
        throw CommError(
            QStringLiteral("COM%1: port numbers run from 1 to 255").arg(n).toStdString());
    m_port = n;
}

void CMSComm::SetDevicePath(const QString& path)
{
    if (m_line)
        throw Error(QStringLiteral("cannot change the port while it is open"));
    m_devicePath = path;
}

short CMSComm::GetCommPort() const
{
    return m_port;
}

void CMSComm::SetSettings(const QString& settings)
{
    const auto parsed = ParseLineSettings(settings);
    if (!parsed)
        throw Error(QStringLiteral("bad settings text \"%1\"").arg(settings));
    if (m_line) {
        if (const QString cause = m_line->ApplySettings(*parsed); !cause.isEmpty())
            throw Error(cause);
    }
    m_settings = settings;
}

void CMSComm::SetRThreshold(short n)
{
    if (n < 0)
        throw Error(QStringLiteral("bad receive threshold %1").arg(n));
    m_receiveThreshold = n;
}

void CMSComm::SetInputMode(int mode)
{
    if (mode != 0 && mode != 1)
        throw Error(QStringLiteral("bad input mode %1").arg(mode));
}

void CMSComm::SetPortOpen(bool open)
{
    if (open)
        Open();
    else
        Close();
}

bool CMSComm::GetPortOpen() const
{
    return m_line != nullptr;
}

short CMSComm::GetCommEvent() const
{
    return m_commEvent;
}

void CMSComm::Open()
{
    if (m_line)
        throw Error(QStringLiteral("the port is already open"));
    // The text was checked when it was set.
    const LineSettings settings = ParseLineSettings(m_settings).value_or(LineSettings{});
    const QString path = m_devicePath.isEmpty() ? PortDevicePath(m_port) : m_devicePath;
    if (path.isEmpty())
        throw Error(kNoSuchPort);

    const QString addressText = LinkedNetworkAddress(path);
    Port* line = nullptr;
    if (addressText.isEmpty()) {
        line = new TerminalPort(path, this);
    } else {
        const std::optional<NetworkAddress> address = ParseNetworkAddress(addressText);
        if (!address)
            throw Error(QStringLiteral("bad network address \"%1\": write socket://HOST:PORT or "
                                       "rfc2217://HOST:PORT")
                            .arg(addressText));
        if (address->kind == NetworkAddress::Kind::Rfc2217)
            line = new Rfc2217Port(*address, this);
        else
            line = new TcpPort(*address, this);
    }
    if (const QString cause = line->Open(settings); !cause.isEmpty()) {
        delete line;
        throw Error(cause);
    }

    m_line = line;
    ++m_generation;
    m_input.clear();
    m_connecting = !line->IsAttached();
    if (!m_connecting) {
        Attach();
        return;
    }
    connect(line, &Port::Attached, this, &CMSComm::Attach);
    connect(line, &Port::Connected, this, &CMSComm::OnLineConnected);
    connect(line, &Port::Failed, this,
            [this](const QString& cause) { LoseDevice(cause, Report::Now); });
    connect(line, &Port::Notice, this,
            [this](const QString& text) { emit Notice(PortName() + QStringLiteral(": ") + text); });
    connect(line, &Port::OwnOutputWaiting, this, [this] {
        if (m_attached)
            m_line->WatchWrite(true);
    });
}

void CMSComm::Attach()
{
    m_attached = true;
    connect(m_line, &Port::Readable, this, &CMSComm::OnReadable);
    connect(m_line, &Port::Writable, this, &CMSComm::OnWritable);
    m_line->WatchRead(true);
    m_line->WatchWrite(m_line->HasOwnOutput());
}

void CMSComm::OnLineConnected()
{
    m_connecting = false;
    m_line->WatchWrite(!m_outQueue.empty() || m_line->HasOwnOutput());
    emit Connected();
}

void CMSComm::StopWatching()
{
    if (m_attached) {
        m_line->WatchRead(false);
        m_line->WatchWrite(false);
    }
    m_attached = false;
}

void CMSComm::DropLine()
{
    // Later, not now: this may run inside one of the line's own signals.
    m_line->disconnect(this);
    m_line->deleteLater();
    m_line = nullptr;
    m_connecting = false;
}

void CMSComm::Close()
{
    if (!m_line)
        return;
    StopWatching();
    // Taken out first: the port reads as closed to whoever the signals below reach.
    Port* line = m_line;
    const bool connected = !m_connecting;
    DropLine();
    std::deque<Piece> pending = std::exchange(m_outQueue, {});
    const qsizetype headWritten = std::exchange(m_headWritten, 0);
    m_headSendBegun = false;
    m_queuedByGroup.clear();
    m_droppedAtClose.clear();
    m_input.clear();

    // The send being written is finished, piece by piece, if the device takes it in time; every
    // later send is dropped whole. A line still connecting has begun none.
    const auto deadline = std::chrono::steady_clock::now() + kFinishSendLimit;
    qint64 dropped = 0;
    qint64 finished = 0;
    bool finishing = connected;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const QByteArrayView rest =
            QByteArrayView(pending[i].bytes).sliced(i == 0 ? headWritten : 0);
        const qsizetype taken = finishing ? line->WriteBefore(rest, deadline) : 0;
        dropped += rest.size() - taken;
        finished += taken;
        m_droppedAtClose[pending[i].group] += rest.size() - taken;
        if (taken < rest.size() || pending[i].endsSend)
            finishing = false;
    }
    line->Release(deadline);
    if (dropped > 0)
        emit OutputDropped(dropped);
    if (finished > 0)
        emit OutputTaken();
}

void CMSComm::LoseDevice(const QString& cause, Report report)
{
    if (!m_line)
        return;
    StopWatching();
    // Nothing can reach a device that is gone: what was queued for it goes with it.
    m_line->Release(std::chrono::steady_clock::now());
    DropLine();
    m_droppedAtClose.clear();
    for (const Piece& piece : m_outQueue)
        m_droppedAtClose[piece.group] += piece.bytes.size();
    if (!m_outQueue.empty())
        m_droppedAtClose[m_outQueue.front().group] -= m_headWritten;
    m_outQueue.clear();
    m_queuedByGroup.clear();
    m_headWritten = 0;
    m_headSendBegun = false;
    m_input.clear();

    const QString message = PortName() + QStringLiteral(": ") + cause;
    if (report == Report::Now)
        emit DeviceLost(message);
    else
        QMetaObject::invokeMethod(
            this, [this, message] { emit DeviceLost(message); }, Qt::QueuedConnection);
}

bool CMSComm::KeepsInput() const
{
    static const QMetaMethod received = QMetaMethod::fromSignal(&CMSComm::Received);
    static const QMetaMethod commEvent = QMetaMethod::fromSignal(&CMSComm::CommEvent);
    return isSignalConnected(commEvent) || !isSignalConnected(received);
}

CMSComm::ReadOutcome CMSComm::ReadDevice()
{
    ReadOutcome outcome;
    const qsizetype most =
        KeepsInput() ? std::min(kReadPerPass, kInputLimit - m_input.size()) : kReadPerPass;
    if (most <= 0)
        return outcome;
    Port::ReadOutcome read = m_line->Read(most);
    outcome.bytes = std::move(read.bytes);
    outcome.lost = read.lost;
    outcome.cause = std::move(read.cause);
    return outcome;
}

QByteArray CMSComm::GetInput()
{
    // A line still connecting has nothing to read yet.
    if (!m_line || !m_attached)
        return {};
    // Called from the communication event, the bytes that raised it are all there is: the device
    // was read once in this pass already. Only a caller outside the event reads here.
    if (!m_input.isEmpty()) {
        m_line->WatchRead(true);
        return std::exchange(m_input, {});
    }
    const quint64 generation = m_generation;
    ReadOutcome outcome = ReadDevice();
    if (!outcome.bytes.isEmpty())
        emit Received(outcome.bytes);
    if (!m_line || m_generation != generation)
        return outcome.bytes; // a receiver closed the port
    if (outcome.lost)
        LoseDevice(outcome.cause, Report::FromEventLoop);
    else
        m_line->WatchRead(true);
    return outcome.bytes;
}

void CMSComm::OnReadable()
{
    const quint64 generation = m_generation;
    ReadOutcome outcome = ReadDevice();
    if (!outcome.bytes.isEmpty()) {
        // Decided before Received goes out, as a receiver may connect or disconnect meanwhile.
        const bool keep = KeepsInput();
        if (keep)
            m_input += outcome.bytes;
        emit Received(outcome.bytes);
        if (!m_line || m_generation != generation)
            return;
        if (keep && m_receiveThreshold > 0 && m_input.size() >= m_receiveThreshold) {
            m_commEvent = kEventReceive;
            emit CommEvent();
        }
    }
    if (!m_line || m_generation != generation)
        return;
    if (outcome.lost)
        LoseDevice(outcome.cause, Report::Now);
    else if (KeepsInput() && m_input.size() >= kInputLimit)
        m_line->WatchRead(false);
}

bool CMSComm::WriteQueued(QString& cause)
{
    // The line's own bytes go first: they may finish an escape the last piece began.
    if (m_line->HasOwnOutput() && !m_line->WriteOwnOutput(cause))
        return false;
    while (!m_connecting && !m_line->HasOwnOutput() && !m_outQueue.empty()) {
        const QByteArray& head = m_outQueue.front().bytes;
        const qsizetype n = m_line->Write(QByteArrayView(head).sliced(m_headWritten), cause);
        if (n < 0)
            return false;
        m_headWritten += n;
        if (m_headWritten < head.size()) {
            // The device is full; the remainder goes as a write of its own once it has room.
            ++m_shortWrites;
            break;
        }
        PopFront();
        // The line took the piece but keeps part of its wire form (an escape cut in two) until
        // it has room: as a short write, the rest goes as a write of its own.
        if (m_line->HasOwnOutput()) {
            ++m_shortWrites;
            break;
        }
    }
    m_line->WatchWrite((!m_connecting && !m_outQueue.empty()) || m_line->HasOwnOutput());
    return true;
}

void CMSComm::SetOutput(QByteArrayView piece)
{
    if (!m_line)
        throw Error(QStringLiteral("the port is not open"));
    if (piece.isEmpty())
        return;
    m_outQueue.push_back(Piece{QByteArray(piece.data(), piece.size()), false, m_sendGroup});
    m_queuedByGroup[m_sendGroup] += piece.size();
    if (m_outQueue.size() > 1 || m_connecting)
        return; // behind pieces still waiting for the device, or for the connection
    QString cause;
    if (!WriteQueued(cause)) {
        LoseDevice(cause, Report::FromEventLoop);
        throw Error(cause);
    }
}

void CMSComm::EndSend()
{
    if (!m_outQueue.empty())
        m_outQueue.back().endsSend = true;
    else
        m_headSendBegun = false; // written whole already
}

void CMSComm::PopFront()
{
    const Piece& head = m_outQueue.front();
    m_headSendBegun = !head.endsSend;
    m_queuedByGroup[head.group] -= head.bytes.size();
    m_outQueue.pop_front();
    m_headWritten = 0;
}

int CMSComm::SetSendGroup(int group)
{
    return std::exchange(m_sendGroup, group);
}

qint64 CMSComm::DropQueuedSends(int group)
{
    // The send at the head has begun when any of its bytes went out; it runs to its end mark.
    std::size_t keep = 0;
    if (m_headWritten > 0 || m_headSendBegun) {
        while (keep < m_outQueue.size() && !m_outQueue[keep].endsSend)
            ++keep;
        keep = std::min(keep + 1, m_outQueue.size());
    }
    qint64 dropped = 0;
    std::deque<Piece> kept(
        std::make_move_iterator(m_outQueue.begin()),
        std::make_move_iterator(m_outQueue.begin() + static_cast<std::ptrdiff_t>(keep)));
    for (std::size_t i = keep; i < m_outQueue.size(); ++i) {
        Piece& piece = m_outQueue[i];
        if (piece.group == group) {
            dropped += piece.bytes.size();
            m_queuedByGroup[group] -= piece.bytes.size();
        } else {
            kept.push_back(std::move(piece));
        }
    }
    m_outQueue = std::move(kept);
    if (m_attached)
        m_line->WatchWrite(!m_outQueue.empty());
    return dropped;
}

qint64 CMSComm::QueuedOutputBytes() const
{
    qint64 total = -m_headWritten;
    for (const Piece& piece : m_outQueue)
        total += piece.bytes.size();
    return total;
}

qint64 CMSComm::QueuedOutputBytes(int group) const
{
    qint64 queued = m_queuedByGroup.value(group);
    if (!m_outQueue.empty() && m_outQueue.front().group == group)
        queued -= m_headWritten;
    return queued;
}

void CMSComm::OnWritable()
{
    QString cause;
    if (!WriteQueued(cause))
        LoseDevice(cause, Report::Now);
    else
        emit OutputTaken();
}
