#include "serial/TerminalPort.h"

#include "serial/CustomSpeed.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace {

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

// Waits until the device has sent what the kernel holds for it, or the deadline passes; then
// anything still held is discarded, so that close() does not wait on it (a serial port's close
// would otherwise wait up to its closing time, 30 s by default).
void DrainOrDiscard(int fd, Port::Deadline deadline)
{
    int left = 0;
    while (::ioctl(fd, TIOCOUTQ, &left) == 0 && left > 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (::ioctl(fd, TIOCOUTQ, &left) != 0 || left > 0)
        ::tcflush(fd, TCOFLUSH);
}

} // namespace

namespace port_io {

Port::ReadOutcome ReadDescriptor(int fd, qsizetype most, int& error)
{
    error = 0;
    Port::ReadOutcome outcome;
    outcome.bytes.resize(most);
    qsizetype taken = 0;
    while (taken < most) {
        const ssize_t n =
            ::read(fd, outcome.bytes.data() + taken, static_cast<size_t>(most - taken));
        if (n > 0) {
            taken += n;
            continue;
        }
        if (n == 0) {
            outcome.lost = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            outcome.lost = true;
            error = errno;
        }
        break;
    }
    outcome.bytes.truncate(taken);
    return outcome;
}

namespace {
ssize_t WriteCall(int fd, QByteArrayView bytes, Kind kind)
{
    if (kind == Kind::Socket)
        return ::send(fd, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    return ::write(fd, bytes.data(), static_cast<size_t>(bytes.size()));
}
} // namespace

qsizetype WriteOnce(int fd, QByteArrayView bytes, Kind kind)
{
    for (;;) {
        const ssize_t n = WriteCall(fd, bytes, kind);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -1;
    }
}

qsizetype WriteBefore(int fd, QByteArrayView bytes, Port::Deadline deadline, Kind kind)
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
        const ssize_t n = WriteCall(fd, bytes.sliced(done), kind);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        if (n > 0)
            done += n;
    }
    return done;
}

} // namespace port_io

TerminalPort::TerminalPort(const QString& devicePath, QObject* parent)
    : DescriptorPort(parent), m_path(devicePath)
{}

TerminalPort::~TerminalPort()
{
    if (m_fd.isValid())
        ::ioctl(m_fd.get(), TIOCNXCL);
}

QString TerminalPort::Open(const LineSettings& settings)
{
    if (m_path.isEmpty())
        return kNoSuchPort;
    const int opened =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0)
        return OpenFailure(errno);
    UniqueFd guard(opened); // closed if any step below fails

    if (!::isatty(opened))
        return QStringLiteral("not a serial device");
    // flock stops a second opener even when it is root, whom TIOCEXCL lets through.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? kInUse : qt_error_string(errno);
    if (::ioctl(opened, TIOCEXCL) != 0)
        return qt_error_string(errno);
    if (const int error = ApplyLineSettings(opened, settings)) {
        ::ioctl(opened, TIOCNXCL);
        return qt_error_string(error);
    }
    m_fd = std::move(guard);
    Watch(m_fd.get());
    return {};
}

QString TerminalPort::ApplySettings(const LineSettings& settings)
{
    if (!m_fd.isValid())
        return {};
    if (const int error = ApplyLineSettings(m_fd.get(), settings))
        return qt_error_string(error);
    return {};
}

Port::ReadOutcome TerminalPort::Read(qsizetype most)
{
    int error = 0;
    ReadOutcome outcome = port_io::ReadDescriptor(m_fd.get(), most, error);
    if (outcome.lost)
        outcome.cause = error ? LossCause(error) : QStringLiteral("the device hung up");
    if (outcome.bytes.isEmpty() && !outcome.lost) {
        // Woken with nothing to read: only an error or hang-up condition does that, and it would
        // wake us again at once, for ever.
        pollfd state{m_fd.get(), POLLIN, 0};
        if (::poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            outcome.lost = true;
            outcome.cause = QStringLiteral("the device hung up");
        }
    }
    return outcome;
}

qsizetype TerminalPort::Write(QByteArrayView data, QString& cause)
{
    const qsizetype n = port_io::WriteOnce(m_fd.get(), data);
    if (n < 0)
        cause = LossCause(errno);
    return n;
}

qsizetype TerminalPort::WriteBefore(QByteArrayView data, Deadline deadline)
{
    return port_io::WriteBefore(m_fd.get(), data, deadline);
}

void TerminalPort::Release(Deadline deadline)
{
    if (!m_fd.isValid())
        return;
    Unwatch();
    DrainOrDiscard(m_fd.get(), deadline);
    ::ioctl(m_fd.get(), TIOCNXCL);
    m_fd.reset();
}
