#pragma once

#include "serial/DescriptorPort.h"
#include "support/UniqueFd.h"

// A terminal device of this machine, opened exclusively, in raw mode with the settings given.
class TerminalPort : public DescriptorPort
{
    Q_OBJECT

public:
    TerminalPort(const QString& devicePath, QObject* parent);
    ~TerminalPort() override;

    QString Open(const LineSettings& settings) override;
    QString ApplySettings(const LineSettings& settings) override;
    ReadOutcome Read(qsizetype most) override;
    qsizetype Write(QByteArrayView data, QString& cause) override;
    qsizetype WriteBefore(QByteArrayView data, Deadline deadline) override;
    void Release(Deadline deadline) override;

private:
    QString m_path;
    UniqueFd m_fd;
};

// Shared by the leaves whose descriptor reads and writes the data itself.
namespace port_io {
// Reads up to `most` bytes. `lost` when the other end hung up (`error` 0: a read of 0 bytes) or
// the read failed (`error` its errno); the caller words the cause.
Port::ReadOutcome ReadDescriptor(int fd, qsizetype most, int& error);
// Whether the descriptor is a socket: a write to a socket the peer closed must fail with EPIPE,
// not kill the process with SIGPIPE.
enum class Kind
{
    Device,
    Socket
};
// One write call: the bytes taken, 0 when full, -1 with errno set when the line is gone.
qsizetype WriteOnce(int fd, QByteArrayView bytes, Kind kind = Kind::Device);
// Hands `bytes` over, waiting for room until `deadline`. Returns how many were taken.
qsizetype WriteBefore(int fd, QByteArrayView bytes, Port::Deadline deadline,
                      Kind kind = Kind::Device);
} // namespace port_io
