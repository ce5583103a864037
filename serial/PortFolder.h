#pragma once

#include <QList>
#include <QString>

// Port n ("COM<n>", n = 1..255) is the entry "COM<n>" of the port folder (GetPortFolderPath()), a
// symbolic link to a serial device, or to a network address that a serial server exports
// ("ln -s rfc2217://rack1:7001 COM12"; see NetworkAddress.h). Anyone may add or change a link by
// hand; that is how pseudo-terminals, the virtual module and ports across the network are
// reached.

// The entry's path, whether or not it exists; empty for n outside 1..255 or when the data folder
// cannot be resolved.
QString PortDevicePath(int n);

// True when the entry resolves to a terminal device that can be opened now for reading and
// writing, exclusively: a port another program (or another control of this one) holds is not
// available. The device is closed again at once. An entry that links to a network address is
// available without connecting: a connection could take a shared port from its user.
bool IsPortAvailable(int n);

// The available ports, n = 1..255 ascending.
QList<int> EnumeratePorts();

// The network address entry n links to (its link text, e.g. "rfc2217://rack1:7001"), or empty for
// an entry that links to a device or does not exist.
QString NetworkPortAddress(int n);
// The same for any path: the path itself when it is an address, else the address its symbolic
// link holds, else empty.
QString LinkedNetworkAddress(const QString& path);

// Where NumberSystemDevices looks for devices: the machine's own folders unless
// SetSystemDeviceRoots() names others, as every test does, so that no test opens a device it did
// not create.
struct SystemDeviceRoots
{
    QString ttyClass = QStringLiteral("/sys/class/tty");
    QString devices = QStringLiteral("/dev");
    QString stableNames = QStringLiteral("/dev/serial/by-id");
};

// Gives each serial device of the system (ttyS with a real UART, ttyUSB, ttyACM, ttyAMA, rfcomm,
// each bound to a driver) that no entry points to yet the lowest free number, as a link to its
// stable by-id name where it has one, else to its /dev node. Entries already there are never
// changed or removed, even when their device is gone, so a number once given is kept. Creates
// the folder as needed; does nothing when it cannot.
void NumberSystemDevices();
void NumberSystemDevices(const SystemDeviceRoots& roots);

// The roots NumberSystemDevices() uses from now on, for the whole process.
void SetSystemDeviceRoots(const SystemDeviceRoots& roots);

inline constexpr int kSpeedCount = 10;
// The speed table: index 0..9 give "2400" .. "230400"; any other index gives "".
QString GetBaudRateText(int index);
