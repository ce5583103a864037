#pragma once

#include <QString>

#include <optional>

class CMSComm;

// A port a run is told to use: the console's COM<n>, a device by its path, or a serial port
// across the network (socket://HOST:PORT, rfc2217://HOST:PORT), which the serial control opens
// like the others.
struct PortTarget
{
    short comPort = 0; // 1..255, or 0 for a path or an address
    QString path;      // a device path or an address

    // How the run's lines and suites name the port: "COM7", or the path or address as given.
    QString Label() const;
};

// Reads a target as a user writes it: "COM7", "com7" or "7"; anything with a '/' is a device
// path, or an address when it has a scheme. Nothing is looked up or opened here. Empty, with the
// reason in `error`, for a number out of range, an unknown scheme or a text that is none of them.
std::optional<PortTarget> ParsePortTarget(const QString& text, QString* error);

// Opens `comm` on `target` with the line `settings` ("115200,n,8,1"), reading it as a run does.
// An address may still be connecting when this returns (CMSComm::IsConnecting). The error text,
// which names the port and the cause, is empty on success; the port is then left closed.
QString OpenPortTarget(CMSComm& comm, const PortTarget& target, const QString& settings);
