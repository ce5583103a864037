#include "trace/TraceListener.h"

#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

// Connections taken per wake-up: a flood is worked through in slices so the window keeps
// painting in between.
constexpr int kAcceptsPerWake = 64;
constexpr int kFirstRetryMs = 50;
constexpr int kLongestRetryMs = 1000;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

UniqueFd OpenSpare()
{
    return UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

} // namespace

TraceListener::TraceListener(int maxConnections, QObject* parent)
    : QObject(parent), m_maxConnections(std::max(1, maxConnections))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &TraceListener::Resume);
}

TraceListener::~TraceListener()
{
    if (m_path.isEmpty())
        return;
    // Another viewer may have taken the name since (after someone removed ours): leave its file.
    const QByteArray encoded = QFile::encodeName(m_path);
    struct stat info
    {
    };
    if (::lstat(encoded.constData(), &info) == 0 && info.st_dev == m_device &&
        info.st_ino == m_inode)
        ::unlink(encoded.constData());
}

bool TraceListener::Listen(const QString& path, QString* error)
{
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (encoded.isEmpty() || static_cast<std::size_t>(encoded.size()) >= sizeof address.sun_path)
        return fail(QStringLiteral("the socket path %1 is empty or too long").arg(path));
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));

    UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listening.isValid())
        return fail(QStringLiteral("cannot make a socket: %1").arg(ErrnoText(errno)));
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(QStringLiteral("cannot take %1: %2").arg(path, ErrnoText(errno)));
    // The folder is private already; the mode keeps the socket so if it is ever moved or linked.
    struct stat info
    {
    };
    if (::chmod(encoded.constData(), 0600) != 0 || ::lstat(encoded.constData(), &info) != 0 ||
        ::listen(listening.get(), SOMAXCONN) != 0) {
        const int cause = errno;
        ::unlink(encoded.constData());
        return fail(QStringLiteral("cannot listen at %1: %2").arg(path, ErrnoText(cause)));
    }
    m_spare = OpenSpare();
    m_listening = std::move(listening);
    m_path = path;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_notifier = std::make_unique<QSocketNotifier>(m_listening.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TraceListener::AcceptPending);
    return true;
}

void TraceListener::AcceptPending()
{
    for (int taken = 0; taken < kAcceptsPerWake; ++taken) {
        const int fd = ::accept4(m_listening.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            m_retryMs = 0;
            Adopt(UniqueFd(fd));
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
            continue;
        case EAGAIN:
            return;
        case EMFILE:
        case ENFILE:
            if (RefuseWithSpare())
                continue;
            BackOff();
            return;
        default:
            // Out of memory or buffers: nothing to do but wait for some to come back.
            BackOff();
            return;
        }
    }
}

void TraceListener::Adopt(UniqueFd connection)
{
    if (m_connections >= m_maxConnections) {
        emit Refused(QStringLiteral("%1 senders connected already").arg(m_connections));
        return;
    }
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(connection.release(), QLocalSocket::ConnectedState)) {
        delete socket;
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    emit Connected(socket);
}

bool TraceListener::RefuseWithSpare()
{
    if (!m_spare.isValid())
        return false;
    m_spare.reset();
    UniqueFd newest(::accept4(m_listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int cause = errno;
    const bool taken = newest.isValid();
    newest.reset();
    m_spare = OpenSpare();
    if (taken)
        emit Refused(QStringLiteral("the viewer is out of file descriptors"));
    // Nothing left waiting is fine too: the next accept says so. Without the spare back, the
    // next refusal has nothing to close: wait for descriptors.
    return (taken || cause == EAGAIN) && m_spare.isValid();
}

void TraceListener::BackOff()
{
    // The socket stays readable while connections wait, so the notifier would fire at once
    // again: it rests until the timer, which waits longer each time nothing could be taken.
    m_notifier->setEnabled(false);
    m_retryMs = m_retryMs == 0 ? kFirstRetryMs : std::min(m_retryMs * 2, kLongestRetryMs);
    m_retry.start(m_retryMs);
}

void TraceListener::Resume()
{
    if (!m_spare.isValid())
        m_spare = OpenSpare();
    m_notifier->setEnabled(true);
    AcceptPending();
}
