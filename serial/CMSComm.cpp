#include "serial/CMSComm.h"

#include "serial/CustomSpeed.h"
#include "serial/LineSettings.h"
#include "serial/PortFolder.h"
#include "support/UniqueFd.h"

#include <QFile>
#include <QMetaMethod>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <thread>
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

const QString kInUse = QStringLiteral("in use by another program");
const QString kNoSuchPort = QStringLiteral("no such port");

QString OpenFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case ELOOP:
        return kNoSuchPort;
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied: the user is not in the dialout group");
    case EBUSY: // held with TIOCEXCL
        return kInUse;
    case EISDIR:
        return QStringLiteral("not a serial device");
    default:
        return qt_error_string(error);
    }
}

QString LossCause(int error)
{
    return QStringLiteral("the device was lost (%1)").arg(qt_error_string(error));
}

speed_t SpeedConstant(int speed)
{
    switch (speed) {
    // clang-format off
    case 50: return B50;             case 75: return B75;             case 110: return B110;
    case 134: return B134;           case 150: return B150;           case 200: return B200;
    case 300: return B300;           case 600: return B600;           case 1200: return B1200;
    case 1800: return B1800;         case 2400: return B2400;         case 4800: return B4800;
    case 9600: return B9600;         case 19200: return B19200;       case 38400: return B38400;
    case 57600: return B57600;       case 115200: return B115200;     case 230400: return B230400;
    case 460800: return B460800;     case 500000: return B500000;     case 576000: return B576000;
    case 921600: return B921600;     case 1000000: return B1000000;   case 1152000: return B1152000;
    case 1500000: return B1500000;   case 2000000: return B2000000;   case 2500000: return B2500000;
    case 3000000: return B3000000;   case 3500000: return B3500000;   case 4000000: return B4000000;
    // clang-format on
    default:
        return B0;
    }
}

// Raw mode with the given framing and speed. Returns 0 or the errno of the failed call.
int ApplyLineSettings(int fd, const LineSettings& settings)
{
    termios line{};
    if (::tcgetattr(fd, &line) != 0)
        return errno;
    ::cfmakeraw(&line);
    line.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    // CIBAUD cleared: the input speed follows the output speed, whatever an earlier custom speed
    // left there.
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CIBAUD);
    line.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    line.c_cflag |= kSizes[settings.dataBits - 5];
    switch (settings.parity) {
    case LineSettings::Parity::None:
        break;
    case LineSettings::Parity::Even:
        line.c_cflag |= PARENB;
        break;
    case LineSettings::Parity::Odd:
        line.c_cflag |= PARENB | PARODD;
        break;
    case LineSettings::Parity::Mark:
        line.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case LineSettings::Parity::Space:
        line.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // A UART sends 1.5 stop bits for CSTOPB with 5 data bits and 2 otherwise; termios has no
    // finer choice.
    if (settings.stopBits != LineSettings::StopBits::One)
        line.c_cflag |= CSTOPB;
    // At least one byte per read: with VMIN 0 a read with nothing waiting would return 0, which
    // is how a hang-up looks.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;

    const speed_t constant = SpeedConstant(settings.speed);
    if (constant != B0) {
        ::cfsetispeed(&line, constant);
        ::cfsetospeed(&line, constant);
    }
    if (::tcsetattr(fd, TCSANOW, &line) != 0)
        return errno;
    if (constant == B0)
        return SetCustomLineSpeed(fd, static_cast<unsigned>(settings.speed));
    return 0;
}

// Hands `bytes` to the device, waiting for room until `deadline`. Returns how many were taken.
qsizetype WriteBefore(int fd, QByteArrayView bytes, std::chrono::steady_clock::time_point deadline)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd wanted{fd, POLLOUT, 0};
        const int ready = ::poll(&wanted, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (wanted.revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        if (n > 0)
            done += n;
    }
    return done;
}

// Waits until the device has sent what the kernel holds for it, or the deadline passes; then
// anything still held is discarded, so that close() does not wait on it (a serial port's close
// would otherwise wait up to its closing time, 30 s by default).
void DrainOrDiscard(int fd, std::chrono::steady_clock::time_point deadline)
{
    int left = 0;
    while (::ioctl(fd, TIOCOUTQ, &left) == 0 && left > 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (::ioctl(fd, TIOCOUTQ, &left) != 0 || left > 0)
        ::tcflush(fd, TCOFLUSH);
}

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
    if (m_fd.isValid())
        throw Error(QStringLiteral("cannot change the port while it is open"));
    if (n < 1 || n > 255)
        throw CommError(
            QStringLiteral("COM%1: port numbers run from 1 to 255").arg(n).toStdString());
    m_port = n;
}

void CMSComm::SetDevicePath(const QString& path)
{
    if (m_fd.isValid())
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
    if (m_fd.isValid()) {
        if (const int error = ApplyLineSettings(m_fd.get(), *parsed))
            throw Error(qt_error_string(error));
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
    return m_fd.isValid();
}

short CMSComm::GetCommEvent() const
{
    return m_commEvent;
}

void CMSComm::Open()
{
    if (m_fd.isValid())
        throw Error(QStringLiteral("the port is already open"));
    // The text was checked when it was set.
    const LineSettings settings = ParseLineSettings(m_settings).value_or(LineSettings{});
    const QString path = m_devicePath.isEmpty() ? PortDevicePath(m_port) : m_devicePath;
    if (path.isEmpty())
        throw Error(kNoSuchPort);

    const int opened =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0)
        throw Error(OpenFailure(errno));
    UniqueFd guard(opened); // closed if any step below fails

    if (!::isatty(opened))
        throw Error(QStringLiteral("not a serial device"));
    // flock stops a second opener even when it is root, whom TIOCEXCL lets through.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0)
        throw Error(errno == EWOULDBLOCK ? kInUse : qt_error_string(errno));
    if (::ioctl(opened, TIOCEXCL) != 0)
        throw Error(qt_error_string(errno));
    if (const int error = ApplyLineSettings(opened, settings)) {
        ::ioctl(opened, TIOCNXCL);
        throw Error(qt_error_string(error));
    }

    m_fd = std::move(guard);
    ++m_generation;
    m_input.clear();
    m_readNotifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &CMSComm::OnReadable);
    m_writeNotifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &CMSComm::OnWritable);
}

void CMSComm::StopNotifiers()
{
    // Deleted later, not now: this may run inside one of their own signals.
    for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
}

void CMSComm::Close()
{
    if (!m_fd.isValid())
        return;
    StopNotifiers();
    // Taken out first: the port reads as closed to whoever the signals below reach.
    UniqueFd device = std::move(m_fd);
    const int fd = device.get();
    std::deque<Piece> pending = std::exchange(m_outQueue, {});
    const qsizetype headWritten = std::exchange(m_headWritten, 0);
    m_headSendBegun = false;
    m_queuedByGroup.clear();
    m_droppedAtClose.clear();
    m_input.clear();

    // The send being written is finished, piece by piece, if the device takes it in time; every
    // later send is dropped whole.
    const auto deadline = std::chrono::steady_clock::now() + kFinishSendLimit;
    qint64 dropped = 0;
    qint64 finished = 0;
    bool finishing = true;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const QByteArrayView rest =
            QByteArrayView(pending[i].bytes).sliced(i == 0 ? headWritten : 0);
        const qsizetype taken = finishing ? WriteBefore(fd, rest, deadline) : 0;
        dropped += rest.size() - taken;
        finished += taken;
        m_droppedAtClose[pending[i].group] += rest.size() - taken;
        if (taken < rest.size() || pending[i].endsSend)
            finishing = false;
    }
    DrainOrDiscard(fd, deadline);
    ::ioctl(fd, TIOCNXCL);
    device.reset();
    if (dropped > 0)
        emit OutputDropped(dropped);
    if (finished > 0)
        emit OutputTaken();
}

void CMSComm::LoseDevice(const QString& cause, Report report)
{
    if (!m_fd.isValid())
        return;
    StopNotifiers();
    // Nothing can reach a device that is gone: what was queued for it goes with it.
    m_fd.reset();
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
    outcome.bytes.resize(most);
    qsizetype taken = 0;
    while (taken < most) {
        const ssize_t n =
            ::read(m_fd.get(), outcome.bytes.data() + taken, static_cast<size_t>(most - taken));
        if (n > 0) {
            taken += n;
            continue;
        }
        if (n == 0) {
            outcome.lost = true;
            outcome.cause = QStringLiteral("the device hung up");
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            outcome.lost = true;
            outcome.cause = LossCause(errno);
        }
        break;
    }
    outcome.bytes.truncate(taken);
    return outcome;
}

QByteArray CMSComm::GetInput()
{
    if (!m_fd.isValid())
        return {};
    // Called from the communication event, the bytes that raised it are all there is: the device
    // was read once in this pass already. Only a caller outside the event reads here.
    if (!m_input.isEmpty()) {
        m_readNotifier->setEnabled(true);
        return std::exchange(m_input, {});
    }
    const quint64 generation = m_generation;
    ReadOutcome outcome = ReadDevice();
    if (!outcome.bytes.isEmpty())
        emit Received(outcome.bytes);
    if (!m_fd.isValid() || m_generation != generation)
        return outcome.bytes; // a receiver closed the port
    if (outcome.lost)
        LoseDevice(outcome.cause, Report::FromEventLoop);
    else
        m_readNotifier->setEnabled(true);
    return outcome.bytes;
}

void CMSComm::OnReadable()
{
    const quint64 generation = m_generation;
    ReadOutcome outcome = ReadDevice();
    if (outcome.bytes.isEmpty() && !outcome.lost) {
        // Woken with nothing to read: only an error or hang-up condition does that, and it would
        // wake us again at once, for ever.
        pollfd state{m_fd.get(), POLLIN, 0};
        if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            outcome.lost = true;
            outcome.cause = QStringLiteral("the device hung up");
        }
    }
    if (!outcome.bytes.isEmpty()) {
        // Decided before Received goes out, as a receiver may connect or disconnect meanwhile.
        const bool keep = KeepsInput();
        if (keep)
            m_input += outcome.bytes;
        emit Received(outcome.bytes);
        if (!m_fd.isValid() || m_generation != generation)
            return;
        if (keep && m_receiveThreshold > 0 && m_input.size() >= m_receiveThreshold) {
            m_commEvent = kEventReceive;
            emit CommEvent();
        }
    }
    if (!m_fd.isValid() || m_generation != generation)
        return;
    if (outcome.lost)
        LoseDevice(outcome.cause, Report::Now);
    else if (KeepsInput() && m_input.size() >= kInputLimit)
        m_readNotifier->setEnabled(false);
}

bool CMSComm::WriteQueued(QString& cause)
{
    while (!m_outQueue.empty()) {
        const QByteArray& head = m_outQueue.front().bytes;
        const ssize_t n =
            ::write(m_fd.get(), head.constData() + m_headWritten, head.size() - m_headWritten);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                ++m_shortWrites;
                break;
            }
            cause = LossCause(errno);
            return false;
        }
        m_headWritten += n;
        if (m_headWritten < head.size()) {
            // The device is full; the remainder goes as a write of its own once it has room.
            ++m_shortWrites;
            break;
        }
        PopFront();
    }
    m_writeNotifier->setEnabled(!m_outQueue.empty());
    return true;
}

void CMSComm::SetOutput(QByteArrayView piece)
{
    if (!m_fd.isValid())
        throw Error(QStringLiteral("the port is not open"));
    if (piece.isEmpty())
        return;
    m_outQueue.push_back(Piece{QByteArray(piece.data(), piece.size()), false, m_sendGroup});
    m_queuedByGroup[m_sendGroup] += piece.size();
    if (m_outQueue.size() > 1)
        return; // behind pieces still waiting for the device
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
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_outQueue.empty());
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
