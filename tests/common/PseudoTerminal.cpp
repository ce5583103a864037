#include "tests/common/PseudoTerminal.h"

#include "support/LineSpeed.h"
#include "support/Paths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

void KeepEventsRunning()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Waits up to `ms` for the master to become ready. A master whose slave is not open reports a
// hang-up at once; it is waited out in small sleeps rather than polled in a tight loop.
void WaitFor(int fd, short events, int ms)
{
    pollfd state{fd, events, 0};
    const int ready = ::poll(&state, 1, std::max(0, ms));
    if (ready > 0 && !(state.revents & events))
        QThread::msleep(static_cast<unsigned long>(std::min(ms, 2)));
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_devicePath = QFile::decodeName(name);
}

PseudoTerminal::~PseudoTerminal()
{
    CloseMaster();
}

bool PseudoTerminal::PublishAs(int comNumber)
{
    const QString folder = GetPortFolderPath();
    if (m_devicePath.isEmpty() || folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QString entry = folder + QStringLiteral("/COM") + QString::number(comNumber);
    QFile::remove(entry);
    return ::symlink(QFile::encodeName(m_devicePath).constData(),
                     QFile::encodeName(entry).constData()) == 0;
}

QByteArray PseudoTerminal::Collect(qsizetype wanted, int timeoutMs)
{
    QByteArray received;
    if (m_master < 0)
        return received;
    QDeadlineTimer deadline(timeoutMs);
    char chunk[65536];
    while (wanted < 0 || received.size() < wanted) {
        KeepEventsRunning();
        const qsizetype room = wanted < 0
                                   ? qsizetype(sizeof chunk)
                                   : std::min<qsizetype>(sizeof chunk, wanted - received.size());
        const ssize_t n = ::read(m_master, chunk, static_cast<size_t>(room));
        if (n > 0) {
            received.append(chunk, n);
            continue;
        }
        if (deadline.hasExpired())
            break;
        WaitFor(m_master, POLLIN, std::min<qint64>(5, deadline.remainingTime()));
    }
    return received;
}

bool PseudoTerminal::Write(QByteArrayView bytes)
{
    if (m_master < 0)
        return false;
    QDeadlineTimer deadline(10000);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(m_master, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            ++m_writesTaken;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        KeepEventsRunning();
        WaitFor(m_master, POLLOUT, 5);
    }
    return true;
}

void PseudoTerminal::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

int PseudoTerminal::Speed() const
{
    return m_master < 0 ? -1 : ReadLineSpeed(m_master);
}

int PseudoTerminal::StopBits() const
{
    termios line{};
    if (m_master < 0 || ::tcgetattr(m_master, &line) != 0)
        return -1;
    return (line.c_cflag & CSTOPB) ? 2 : 1;
}
