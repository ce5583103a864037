#include "serial/PortFolder.h"

#include "serial/NetworkAddress.h"
#include "support/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

bool EntryExists(const QString& path)
{
    // lstat, not stat: a link whose device is gone still holds its number.
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// A device name split for ordering, so that ttyS2 comes before ttyS10.
struct DeviceName
{
    QString kind;
    int number = 0;
    QString name;

    bool operator<(const DeviceName& other) const
    {
        return std::tie(kind, number) < std::tie(other.kind, other.number);
    }
};

bool HasRealUart(const QString& ttyEntry)
{
    // The 8250 driver registers placeholder ports whose type reads 0 (unknown): no UART behind.
    QFile type(ttyEntry + QStringLiteral("/type"));
    if (!type.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const int value = type.readAll().trimmed().toInt(&ok);
    return ok && value != 0;
}

std::vector<DeviceName> SerialDevices(const QString& ttyClass)
{
    static const QRegularExpression kSerialName(
        QStringLiteral("^(ttyS|ttyUSB|ttyACM|ttyAMA|rfcomm)(\\d+)$"));
    std::vector<DeviceName> devices;
    const QStringList names =
        QDir(ttyClass).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = kSerialName.match(name);
        if (!match.hasMatch())
            continue;
        const QString entry = ttyClass + u'/' + name;
        if (!QFileInfo::exists(entry + QStringLiteral("/device/driver")))
            continue;
        if (match.captured(1) == u"ttyS" && !HasRealUart(entry))
            continue;
        devices.push_back({match.captured(1), match.captured(2).toInt(), name});
    }
    std::sort(devices.begin(), devices.end());
    return devices;
}

// Device node (canonical path) -> its stable name.
std::map<QString, QString> StableNames(const QString& folder)
{
    std::map<QString, QString> names;
    const QFileInfoList links = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty())
            names.emplace(device, link.absoluteFilePath());
    }
    return names;
}

} // namespace

QString PortDevicePath(int n)
{
    if (n < kFirstPort || n > kLastPort)
        return {};
    const QString folder = GetPortFolderPath();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/COM") + QString::number(n);
}

QString LinkedNetworkAddress(const QString& path)
{
    if (HasNetworkScheme(path))
        return path;
    // readlink, not QFileInfo: the link text is an address, not a path to be cleaned of "//".
    char target[512];
    const ssize_t length =
        ::readlink(QFile::encodeName(path).constData(), target, sizeof target - 1);
    if (length <= 0)
        return {};
    const QString text = QFile::decodeName(QByteArray(target, length));
    return HasNetworkScheme(text) ? text : QString();
}

QString NetworkPortAddress(int n)
{
    const QString path = PortDevicePath(n);
    return path.isEmpty() ? QString() : LinkedNetworkAddress(path);
}

bool IsPortAvailable(int n)
{
    const QString path = PortDevicePath(n);
    if (path.isEmpty())
        return false;
    if (!LinkedNetworkAddress(path).isEmpty())
        return true;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool available = ::isatty(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd); // also drops the lock
    return available;
}

QList<int> EnumeratePorts()
{
    QList<int> ports;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (IsPortAvailable(n))
            ports.append(n);
    }
    return ports;
}

namespace {

SystemDeviceRoots& CurrentRoots()
{
    static SystemDeviceRoots roots;
    return roots;
}

} // namespace

void SetSystemDeviceRoots(const SystemDeviceRoots& roots)
{
    CurrentRoots() = roots;
}

void NumberSystemDevices()
{
    NumberSystemDevices(CurrentRoots());
}

void NumberSystemDevices(const SystemDeviceRoots& roots)
{
    const QString folder = GetPortFolderPath();
    if (folder.isEmpty())
        return;

    // What the entries point to, both as written and as resolved, so that a device reached by
    // its node, its stable name or any other link is recognised as numbered.
    std::array<bool, kLastPort + 1> taken{};
    QSet<QString> numbered;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString entry = PortDevicePath(n);
        if (!EntryExists(entry))
            continue;
        taken[n] = true;
        const QFileInfo info(entry);
        if (info.isSymLink())
            numbered.insert(QDir::cleanPath(info.symLinkTarget()));
        const QString resolved = info.canonicalFilePath();
        if (!resolved.isEmpty())
            numbered.insert(resolved);
    }

    const std::map<QString, QString> stableNames = StableNames(roots.stableNames);
    bool folderMade = false;
    for (const DeviceName& device : SerialDevices(roots.ttyClass)) {
        const QString node = roots.devices + u'/' + device.name;
        const QString resolvedNode = QFileInfo(node).canonicalFilePath();
        if (resolvedNode.isEmpty())
            continue;
        const auto stable = stableNames.find(resolvedNode);
        const QString target = stable != stableNames.end() ? stable->second : node;
        if (numbered.contains(QDir::cleanPath(node)) || numbered.contains(resolvedNode) ||
            numbered.contains(QDir::cleanPath(target)))
            continue;

        const auto freeNumber = std::find(taken.begin() + kFirstPort, taken.end(), false);
        if (freeNumber == taken.end())
            return;
        if (!folderMade && !QDir().mkpath(folder))
            return;
        folderMade = true;
        const int n = static_cast<int>(freeNumber - taken.begin());
        if (::symlink(QFile::encodeName(target).constData(),
                      QFile::encodeName(PortDevicePath(n)).constData()) != 0)
            return;
        taken[n] = true;
        numbered.insert(resolvedNode);
    }
}

QString GetBaudRateText(int index)
{
    static constexpr std::array<const char*, kSpeedCount> kSpeeds = {
        "2400", "4800", "9600", "19200", "28800", "38400", "57600", "76800", "115200", "230400"};
    if (index < 0 || index >= static_cast<int>(kSpeeds.size()))
        return {};
    return QString::fromLatin1(kSpeeds[index]);
}
