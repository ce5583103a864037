#include "module/ModuleLine.h"

#include "support/LineSpeed.h"
#include "support/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kLeastPauseMs = 5;

QString EntryPath(const QString& folder, int port)
{
    return folder + QStringLiteral("/COM") + QString::number(port);
}

QString LockPath(const QString& entry)
{
    return entry + QStringLiteral(".lock");
}

// Takes the lock file beside an entry. A running module holds it locked for as long as it runs
// and the kernel lets go when the module dies, however it dies, so a lock that can be taken
// means no module is alive behind the entry. `leftBehind` tells whether the file was there
// already, that is whether a module once published at this number.
UniqueFd LockEntry(const QString& entry, bool& leftBehind)
{
    const QByteArray path = QFile::encodeName(LockPath(entry));
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd lock(::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        const bool created = lock.isValid();
        if (!created)
            lock.reset(::open(path.constData(), O_RDWR | O_CLOEXEC));
        if (!lock.isValid()) {
            if (errno == ENOENT)
                continue; // removed between the two opens
            return {};
        }
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
            return {};
        // The module that held it may have removed the file on its way out after it was opened
        // here: a lock on a removed file guards nothing.
        struct stat held = {};
        struct stat named = {};
        if (::fstat(lock.get(), &held) != 0 || ::stat(path.constData(), &named) != 0 ||
            held.st_ino != named.st_ino || held.st_dev != named.st_dev)
            continue;
        leftBehind = !created;
        return lock;
    }
    return {};
}

// Whether an entry whose lock this module holds may be taken: none there, a link to this
// module's own new device (a link to the same name left by a module that died), or a link to a
// pseudo-terminal that is gone or that a module, now dead, published. Links to other devices are
// kept even while their device is unplugged, and so are terminals linked by hand: the console
// keeps a number once given.
bool IsFreeEntry(const QString& entry, const QString& device, bool moduleWasHere)
{
    const QFileInfo info(entry);
    if (!info.isSymLink())
        return !info.exists();
    const QString target = info.symLinkTarget();
    if (target == device)
        return true;
    return target.startsWith(QLatin1String("/dev/pts/")) &&
           (moduleWasHere || !QFileInfo::exists(target));
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
    bool heldByModule = false;
    for (int n = port ? port : 1; n <= (port ? port : 255); ++n) {
        const QString entry = EntryPath(folder, n);
        bool moduleWasHere = false;
        UniqueFd lock = LockEntry(entry, moduleWasHere);
        if (!lock.isValid()) {
            heldByModule = true;
            continue;
        }
        if (!IsFreeEntry(entry, m_devicePath, moduleWasHere)) {
            if (!moduleWasHere)
                QFile::remove(LockPath(entry));
            continue;
        }
        QFile::remove(entry);
        if (::symlink(target.constData(), QFile::encodeName(entry).constData()) != 0) {
            if (!moduleWasHere)
                QFile::remove(LockPath(entry));
            continue;
        }
        m_link = entry;
        m_lock = std::move(lock);
        m_port = n;
        break;
    }
    if (m_port == 0)
        return !port          ? QStringLiteral("no free port number in \"%1\"").arg(folder)
               : heldByModule ? QStringLiteral("COM%1 is taken by another running module").arg(port)
                              : QStringLiteral("COM%1 is taken: \"%2\" points to another device")
                                    .arg(port)
                                    .arg(EntryPath(folder, port));
    RemoveOtherLinksToDevice(folder);

    return {};
}

void ModuleLine::RemoveLink()
{
    // Only our own link: someone may have pointed the entry elsewhere meanwhile.
    if (!m_link.isEmpty() && QFileInfo(m_link).symLinkTarget() == m_devicePath)
        QFile::remove(m_link);
    // Removed while still locked, so no other module takes a lock on a file about to go.
    if (m_lock.isValid())
        QFile::remove(LockPath(m_link));
    m_lock.reset();
    m_link.clear();
}

void ModuleLine::RemoveOtherLinksToDevice(const QString& folder)
{
    // The device was created for this module just now, so any other entry naming it was left by
    // a module that died with an earlier terminal of the same name: the console would list the
    // one device twice.
    for (int n = 1; n <= 255; ++n) {
        const QString entry = EntryPath(folder, n);
        if (n == m_port || QFileInfo(entry).symLinkTarget() != m_devicePath)
            continue;
        QFile::remove(entry);
        bool moduleWasHere = false;
        if (LockEntry(entry, moduleWasHere).isValid())
            QFile::remove(LockPath(entry));
    }
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
        // Earned time is capped at 20 ms of the line: after a pause, that much of a burst comes
        // through at once (a short statement whole), and the rest at the line's rate.
        m_allowance = std::min(m_allowance + m_sinceRead.restart() * bytesPerMs,
                               std::max(1.0, bytesPerMs * 20));
        room = static_cast<qsizetype>(m_allowance);
        if (room < 1) {
            m_readNotifier->setEnabled(false);
            // At least a few milliseconds: resuming every millisecond for the few bytes it earns
            // at fast speeds kept the loop busy with wake-ups, and took a third of a CPU.
            m_resume.start(
                std::max(kLeastPauseMs, static_cast<int>((1 - m_allowance) / bytesPerMs)));
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
