#include "serial/NetworkPort.h"

#include "serial/TerminalPort.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using telnet::ComPortCommand;
using telnet::TelnetCodec;

namespace {

// A peer that vanishes without a word (a pulled cable, a crashed machine) is noticed within
// about 25 s of silence, and unacknowledged output gives up after 30 s, instead of the kernel's
// two hours and fifteen minutes.
void KeepAlive(int fd)
{
    const int on = 1, idle = 10, interval = 5, count = 3;
    const unsigned userTimeoutMs = 30000;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

telnet::Parity ToTelnet(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None:
        break;
    case LineSettings::Parity::Even:
        return telnet::Parity::Even;
    case LineSettings::Parity::Odd:
        return telnet::Parity::Odd;
    case LineSettings::Parity::Mark:
        return telnet::Parity::Mark;
    case LineSettings::Parity::Space:
        return telnet::Parity::Space;
    }
    return telnet::Parity::None;
}

telnet::StopSize ToTelnet(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::One:
        break;
    case LineSettings::StopBits::OneAndHalf:
        return telnet::StopSize::OneAndHalf;
    case LineSettings::StopBits::Two:
        return telnet::StopSize::Two;
    }
    return telnet::StopSize::One;
}

// How many bytes of `data` went out whole when `written` bytes of its escaped form did.
qsizetype DataBytesWithin(QByteArrayView data, qsizetype written, const TelnetCodec& codec)
{
    qsizetype wire = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        wire += codec.EncodeData(data.sliced(i, 1)).size();
        if (wire > written)
            return i;
    }
    return data.size();
}

constexpr std::chrono::seconds kFirstWordsTime{1};
constexpr qsizetype kFirstWordsLimit = 128;

// A short line of printable text, as a server's refusal is; a module's reports are not.
bool IsPlainText(const QByteArray& bytes)
{
    const QByteArray text = bytes.trimmed();
    if (text.isEmpty())
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n'; });
}

} // namespace

TcpPort::TcpPort(const NetworkAddress& address, QObject* parent)
    : DescriptorPort(parent), m_address(address)
{
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        Fail(QStringLiteral("cannot connect to %1: no answer within %2 s")
                 .arg(Endpoint())
                 .arg(kConnectLimit.count() / 1000));
    });
}

TcpPort::~TcpPort()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
}

QString TcpPort::LossCause(int error) const
{
    if (error == 0)
        return QStringLiteral("the connection to %1 was closed by the server").arg(Endpoint());
    return QStringLiteral("the connection to %1 was lost (%2)")
        .arg(Endpoint(), qt_error_string(error));
}

QString TcpPort::Open(const LineSettings& settings)
{
    m_settings = settings;
    m_connectTimer.start(kConnectLimit);
    // A numeric host needs no lookup; either way the attempt starts from the event loop, so that
    // even an immediate refusal is reported as every other failure is, after Open returns.
    const QHostAddress numeric(m_address.host);
    if (!numeric.isNull()) {
        m_candidates = {numeric};
        QTimer::singleShot(0, this, &TcpPort::TryNextAddress);
    } else {
        m_lookupId = QHostInfo::lookupHost(m_address.host, this, &TcpPort::OnLookedUp);
    }
    return {};
}

void TcpPort::OnLookedUp(const QHostInfo& info)
{
    m_lookupId = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        Fail(QStringLiteral("cannot connect to %1: unknown host (%2)")
                 .arg(Endpoint(), info.errorString()));
        return;
    }
    m_candidates = info.addresses();
    TryNextAddress();
}

void TcpPort::TryNextAddress()
{
    while (!m_candidates.isEmpty()) {
        const QHostAddress address = m_candidates.takeFirst();
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            auto* in = reinterpret_cast<sockaddr_in*>(&storage);
            in->sin_family = AF_INET;
            in->sin_port = htons(m_address.port);
            in->sin_addr.s_addr = htonl(address.toIPv4Address());
            length = sizeof *in;
        } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(m_address.port);
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
            in6->sin6_scope_id = address.scopeId().toUInt();
            length = sizeof *in6;
        } else {
            continue;
        }
        UniqueFd fd(::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.isValid()) {
            m_lastError = qt_error_string(errno);
            continue;
        }
        // A short statement goes at once instead of waiting for the answer to the last one.
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 &&
            errno != EINPROGRESS) {
            m_lastError = qt_error_string(errno);
            continue;
        }
        m_fd = std::move(fd);
        m_connectNotifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Write, this);
        connect(m_connectNotifier, &QSocketNotifier::activated, this, &TcpPort::OnConnectFinished);
        return;
    }
    Fail(QStringLiteral("cannot connect to %1: %2")
             .arg(Endpoint(),
                  m_lastError.isEmpty() ? QStringLiteral("no address to try") : m_lastError));
}

void TcpPort::OnConnectFinished()
{
    // Disabled before the control sets its own notifiers on the same descriptor.
    m_connectNotifier->setEnabled(false);
    m_connectNotifier->deleteLater();
    m_connectNotifier = nullptr;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        m_lastError = qt_error_string(error);
        m_fd.reset();
        TryNextAddress();
        return;
    }
    m_connectTimer.stop();
    KeepAlive(m_fd.get());
    m_connected = true;
    m_connectedAt = std::chrono::steady_clock::now();
    Watch(m_fd.get());
    emit Attached();
    OnConnected();
}

void TcpPort::OnConnected()
{
    emit Connected();
}

void TcpPort::Fail(const QString& cause)
{
    m_connectTimer.stop();
    emit Failed(cause);
}

QString TcpPort::ApplySettings(const LineSettings& settings)
{
    // The server keeps its own settings for a raw port: there is no way to tell it.
    m_settings = settings;
    return {};
}

Port::ReadOutcome TcpPort::Read(qsizetype most)
{
    int error = 0;
    ReadOutcome outcome = port_io::ReadDescriptor(m_fd.get(), most, error);
    if (outcome.lost)
        outcome.cause = LossCause(error);
    outcome = Decode(std::move(outcome));
    if (std::chrono::steady_clock::now() - m_connectedAt < kFirstWordsTime &&
        m_firstWords.size() < kFirstWordsLimit)
        m_firstWords += outcome.bytes.first(
            std::min(outcome.bytes.size(), kFirstWordsLimit - m_firstWords.size()));
    // The server may have said it before it closed, or before our next write met its reset.
    if (outcome.lost && IsPlainText(m_firstWords))
        outcome.cause +=
            QStringLiteral(", saying \"%1\"").arg(QString::fromLatin1(m_firstWords.trimmed()));
    return outcome;
}

qsizetype TcpPort::Write(QByteArrayView data, QString& cause)
{
    const qsizetype n = port_io::WriteOnce(m_fd.get(), data, port_io::Kind::Socket);
    if (n < 0)
        cause = LossCause(errno);
    return n;
}

qsizetype TcpPort::WriteBefore(QByteArrayView data, Deadline deadline)
{
    if (!m_connected)
        return 0;
    return port_io::WriteBefore(m_fd.get(), data, deadline, port_io::Kind::Socket);
}

void TcpPort::Release(Deadline deadline)
{
    Q_UNUSED(deadline); // what the kernel holds still goes after close, without us waiting
    m_connectTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_candidates.clear();
    if (m_connectNotifier) {
        m_connectNotifier->setEnabled(false);
        m_connectNotifier->deleteLater();
        m_connectNotifier = nullptr;
    }
    Unwatch();
    m_connected = false;
    m_fd.reset();
}

Rfc2217Port::Rfc2217Port(const NetworkAddress& address, QObject* parent) : TcpPort(address, parent)
{
    m_negotiationTimer.setSingleShot(true);
    connect(&m_negotiationTimer, &QTimer::timeout, this, [this] {
        emit Failed(QStringLiteral("%1 did not negotiate Telnet within %2 s: is it a raw TCP "
                                   "port (socket://%1)?")
                        .arg(Endpoint())
                        .arg(kNegotiationLimit.count() / 1000));
    });
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &Rfc2217Port::OnAnswerTimeout);
}

void Rfc2217Port::OnConnected()
{
    m_negotiationTimer.start(kNegotiationLimit);
    SendOwn(m_codec.Start());
}

Port::ReadOutcome Rfc2217Port::Decode(ReadOutcome raw)
{
    m_decoded.clear();
    m_codec.Feed(raw.bytes, m_decoded);
    raw.bytes = m_decoded.data;
    if (!m_decoded.reply.isEmpty())
        SendOwn(m_decoded.reply);
    for (const telnet::TelnetEvent& event : m_decoded.events) {
        if (event.kind == telnet::TelnetEvent::Kind::Option &&
            event.option == telnet::option::kComPort && event.local && !m_negotiated)
            Negotiated(event.enabled);
        else if (event.kind == telnet::TelnetEvent::Kind::ComPort)
            Answered(event.command, event.value);
    }
    return raw;
}

void Rfc2217Port::Negotiated(bool comPort)
{
    m_negotiated = true;
    m_comPort = comPort;
    m_negotiationTimer.stop();
    if (comPort) {
        SendSettings(m_settings, true);
        // Flow control off first: it is answered, so the unanswered modem lines after it cannot
        // be mistaken for it. DTR and RTS up, as opening a local port raises them.
        Request(ComPortCommand::SetControl, quint8(telnet::Control::NoFlowControl),
                TelnetCodec::SetControl(telnet::Control::NoFlowControl),
                QStringLiteral("no flow control"));
        Request(ComPortCommand::SetControl, quint8(telnet::Control::DtrOn),
                TelnetCodec::SetControl(telnet::Control::DtrOn), QStringLiteral("DTR on"));
        Request(ComPortCommand::SetControl, quint8(telnet::Control::RtsOn),
                TelnetCodec::SetControl(telnet::Control::RtsOn), QStringLiteral("RTS on"));
        // Whatever the server held from before this session is not this session's.
        Request(ComPortCommand::PurgeData, quint8(telnet::Purge::Both),
                TelnetCodec::PurgeData(telnet::Purge::Both), QStringLiteral("purge"));
    } else {
        m_noted = true;
        emit Notice(QStringLiteral("%1 refused the serial settings option (RFC 2217): the line "
                                   "keeps the server's settings")
                        .arg(Endpoint()));
    }
    // From the event loop: this runs inside the control's read.
    QTimer::singleShot(0, this, [this] { emit Connected(); });
}

QString Rfc2217Port::ApplySettings(const LineSettings& settings)
{
    m_settings = settings;
    if (m_negotiated && m_comPort)
        SendSettings(settings, false);
    return {};
}

void Rfc2217Port::SendSettings(const LineSettings& settings, bool all)
{
    if (all || settings.speed != m_told.speed)
        Request(ComPortCommand::SetBaudRate, quint32(settings.speed),
                TelnetCodec::SetBaudRate(quint32(settings.speed)),
                QStringLiteral("speed %1").arg(settings.speed));
    if (all || settings.dataBits != m_told.dataBits)
        Request(ComPortCommand::SetDataSize, quint32(settings.dataBits),
                TelnetCodec::SetDataSize(quint8(settings.dataBits)),
                QStringLiteral("%1 data bits").arg(settings.dataBits));
    if (all || settings.parity != m_told.parity)
        Request(ComPortCommand::SetParity, quint8(ToTelnet(settings.parity)),
                TelnetCodec::SetParity(ToTelnet(settings.parity)), QStringLiteral("parity"));
    if (all || settings.stopBits != m_told.stopBits)
        Request(ComPortCommand::SetStopSize, quint8(ToTelnet(settings.stopBits)),
                TelnetCodec::SetStopSize(ToTelnet(settings.stopBits)), QStringLiteral("stop bits"));
    m_told = settings;
}

void Rfc2217Port::Request(ComPortCommand command, quint32 value, const QByteArray& bytes,
                          const QString& what)
{
    m_waiting.push_back({command, value, what, std::chrono::steady_clock::now()});
    if (!m_answerTimer.isActive())
        m_answerTimer.start(kAnswerLimit);
    SendOwn(bytes);
}

void Rfc2217Port::Answered(ComPortCommand command, quint32 value)
{
    // Answers come in the order asked; the value tells apart requests of one command, unless the
    // server chose another (a speed it cannot set), when the oldest of the command is meant.
    auto match = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Waiting& w) {
        return w.command == command && w.value == value;
    });
    if (match == m_waiting.end())
        match = std::find_if(m_waiting.begin(), m_waiting.end(),
                             [&](const Waiting& w) { return w.command == command; });
    if (match != m_waiting.end())
        m_waiting.erase(match);
    if (m_waiting.empty())
        m_answerTimer.stop();
}

void Rfc2217Port::OnAnswerTimeout()
{
    const Deadline now = std::chrono::steady_clock::now();
    QStringList overdue;
    while (!m_waiting.empty() && now - m_waiting.front().sent >= kAnswerLimit) {
        overdue.append(m_waiting.front().what);
        m_waiting.pop_front();
    }
    if (!m_waiting.empty())
        m_answerTimer.start(std::chrono::duration_cast<std::chrono::milliseconds>(
            kAnswerLimit - (now - m_waiting.front().sent)));
    if (overdue.isEmpty() || m_noted)
        return;
    m_noted = true;
    emit Notice(QStringLiteral("%1 did not answer: %2. Going on without.")
                    .arg(Endpoint(), overdue.join(QStringLiteral(", "))));
}

void Rfc2217Port::SendOwn(const QByteArray& bytes)
{
    m_own += bytes;
    QString cause;
    // A loss shows on the next read; here the bytes only wait.
    if (WriteOwnOutput(cause) && !m_own.isEmpty())
        emit OwnOutputWaiting();
}

bool Rfc2217Port::WriteOwnOutput(QString& cause)
{
    if (m_own.isEmpty() || Fd() < 0)
        return true;
    const qsizetype n = port_io::WriteOnce(Fd(), m_own, port_io::Kind::Socket);
    if (n < 0) {
        cause = LossCause(errno);
        return false;
    }
    m_own.remove(0, n);
    return true;
}

qsizetype Rfc2217Port::Write(QByteArrayView data, QString& cause)
{
    if (!WriteOwnOutput(cause))
        return -1;
    if (!m_own.isEmpty())
        return 0;
    const QByteArray encoded = m_codec.EncodeData(data);
    const qsizetype n = port_io::WriteOnce(Fd(), encoded, port_io::Kind::Socket);
    if (n < 0) {
        cause = LossCause(errno);
        return -1;
    }
    if (n == 0)
        return 0;
    // An escape cut in two must be finished before anything else goes: the rest is ours now.
    m_own = encoded.sliced(n);
    return data.size();
}

qsizetype Rfc2217Port::WriteBefore(QByteArrayView data, Deadline deadline)
{
    if (Fd() < 0)
        return 0;
    const qsizetype own = port_io::WriteBefore(Fd(), m_own, deadline, port_io::Kind::Socket);
    m_own.remove(0, own);
    if (!m_own.isEmpty())
        return 0;
    const QByteArray encoded = m_codec.EncodeData(data);
    const qsizetype written = port_io::WriteBefore(Fd(), encoded, deadline, port_io::Kind::Socket);
    if (written == encoded.size())
        return data.size();
    return DataBytesWithin(data, written, m_codec);
}

void Rfc2217Port::Release(Deadline deadline)
{
    if (Fd() >= 0 && !m_own.isEmpty())
        m_own.remove(0, port_io::WriteBefore(Fd(), m_own, deadline, port_io::Kind::Socket));
    m_negotiationTimer.stop();
    m_answerTimer.stop();
    TcpPort::Release(deadline);
}
