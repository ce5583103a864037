#include "module/ModuleLine.h"

#include "support/LineSpeed.h"
#include "support/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// An entry this module may take: none there, or a link to a pseudo-terminal that no longer exists,
// which a killed module left behind. Links to other devices are kept even while their device is
// unplugged: the console keeps a number once given.
bool IsFreeEntry(const QString& entry)
{
    const QFileInfo info(entry);
    if (!info.isSymLink())
        return !info.exists();
    const QString target = info.symLinkTarget();
    return target.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo::exists(target);
}

QString EntryPath(const QString& folder, int port)
{
    return folder + QStringLiteral("/COM") + QString::number(port);
}

} // namespace

ModuleLine::ModuleLine(QObject* parent) : QObject(parent)
{
    m_resume.setSingleShot(true);
    connect(&m_resume, &QTimer::timeout, this, [this] { m_readNotifier->setEnabled(true); });
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, &ModuleLine::LineIdle);
}

ModuleLine::~ModuleLine()
{
    RemoveLink();
}

QString ModuleLine::Open(int port)
{
    if (port < kUnpublished || port > 255)
        return QStringLiteral("port %1 is outside 1..255").arg(port);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return QStringLiteral("cannot open a pseudo-terminal: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    m_master.reset(master);
    m_slave.reset(slave);
    m_devicePath = QFile::decodeName(name);
    termios line{};
    ::tcgetattr(slave, &line);
    ::cfmakeraw(&line);
    ::tcsetattr(slave, TCSANOW, &line);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    if (port != kUnpublished) {
        const QString error = Publish(port);
        if (!error.isEmpty())
            return error;
    }

    m_readNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &ModuleLine::OnReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &ModuleLine::OnWritable);
    m_sinceRead.start();
    return {};
}

QString ModuleLine::Publish(int port)
{
    const QString folder = GetPortFolderPath();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return QStringLiteral("cannot create the port folder \"%1\"").arg(folder);
    const QByteArray target = QFile::encodeName(m_devicePath);
    for (int n = port ? port : 1; n <= (port ? port : 255); ++n) {
        const QString entry = EntryPath(folder, n);
        if (!IsFreeEntry(entry))
            continue;
        QFile::remove(entry);
        // Another module may take the same number at the same moment; symlink() lets one win.
        if (::symlink(target.constData(), QFile::encodeName(entry).constData()) != 0)
            continue;
        m_link = entry;
        m_port = n;
        break;
    }
    if (m_port == 0)
        return port ? QStringLiteral("COM%1 is taken: \"%2\" points to another device")
                          .arg(port)
                          .arg(EntryPath(folder, port))
                    : QStringLiteral("no free port number in \"%1\"").arg(folder);

    return {};
}

void ModuleLine::RemoveLink()
{
    // Only our own link: someone may have pointed the entry elsewhere meanwhile.
    if (!m_link.isEmpty() && QFileInfo(m_link).symLinkTarget() == m_devicePath)
        QFile::remove(m_link);
    m_link.clear();
}

int ModuleLine::LineSpeed() const
{
    return m_master.isValid() ? ReadLineSpeed(m_master.get()) : -1;
}

void ModuleLine::OnReadable()
{
    qsizetype room = 64 * 1024;
    if (m_paced) {
        const int speed = LineSpeed();
        const double bytesPerMs = (speed > 0 ? speed : 9600) / 10.0 / 1000.0;
        // Earned time is capped, so a pause never lets a later burst through faster than the line.
        m_allowance = std::min(m_allowance + m_sinceRead.restart() * bytesPerMs,
                               std::max(1.0, bytesPerMs * 20));
        room = static_cast<qsizetype>(m_allowance);
        if (room < 1) {
            m_readNotifier->setEnabled(false);
            m_resume.start(std::max(1, static_cast<int>((1 - m_allowance) / bytesPerMs)));
            return;
        }
    }
    QByteArray bytes(room, Qt::Uninitialized);
    const ssize_t n = ::read(m_master.get(), bytes.data(), static_cast<size_t>(room));
    if (n <= 0)
        return;
    bytes.truncate(n);
    m_allowance -= static_cast<double>(n);
    m_idle.start();
    emit Received(bytes);
}

void ModuleLine::Write(const QByteArray& bytes)
{
    if (!m_master.isValid())
        return;
    if (m_pending.size() + bytes.size() > kMostQueued)
        return; // nobody reads the line; the oldest reports are kept, as a full buffer would
    m_pending += bytes;
    OnWritable();
}

void ModuleLine::OnWritable()
{
    while (!m_pending.isEmpty()) {
        const ssize_t n =
            ::write(m_master.get(), m_pending.constData(), static_cast<size_t>(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    m_writeNotifier->setEnabled(!m_pending.isEmpty());
}
