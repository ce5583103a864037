#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

struct Ser2NetOptions
{
    // ser2net.yaml connection options as "name: value" lines, e.g. "kickolduser: true".
    QStringList connectionOptions;
    // The serialdev settings after the device path.
    QString serialSettings = QStringLiteral("115200n81,local");
};

// A real ser2net (Debian's package, 4.3) serving devices the test holds, usually the slave ends
// of PseudoTerminals, on free loopback ports: each device through a raw `tcp` accepter and a
// `telnet(rfc2217)` one, from a configuration written to a temporary folder. It runs in the
// foreground with its log in that folder (no syslog, no UUCP lock files, a private PID file) and
// dies with the test process.
//
// How ser2net 4.3.11 behaves here, as seen on pseudo-terminals:
// - It opens a device when a client connects and closes it when the client goes, so the pty's
//   settings change only then. Closing takes some milliseconds, during which the other accepter
//   of the same device refuses a client; the same accepter takes a new one at once.
// - Data from the device reaches the client after a short pause (chardelay, by default two
//   character times, 1 to 20 ms), read from the device 64 bytes at a time (dev-to-net-bufsize).
// - Both accepters pass every byte value unaltered; the telnet one doubles 0xFF both ways and
//   leaves CR alone. A client that never negotiates gets the data all the same and is never
//   dropped for it.
// - On connecting, the telnet accepter sends WILL SGA, DO SGA, WILL ECHO, DONT ECHO, DO BINARY,
//   WILL BINARY, DO COM-PORT-OPTION, and answers the client's WILL COM-PORT-OPTION with a
//   NOTIFY-MODEMSTATE of 0. It re-sends DO for an option the client agrees to (not RFC 1143).
// - SET-BAUDRATE sets any speed exactly (custom speeds through BOTHER, even 1 or 0xFFFFFFFF) and
//   answers with it; 0 asks for the current one. SET-DATASIZE, SET-PARITY, SET-STOPSIZE,
//   PURGE-DATA and the flow-control values of SET-CONTROL are answered; the DTR/RTS values of
//   SET-CONTROL get no answer at all on a pty (its modem lines cannot be set), and asking for
//   the DTR state echoes the request. Signature: "ser2net". Masks are answered with a
//   notification of the current state. NOP and AYT get nothing back.
// - A second client on a busy accepter gets "Port already in use\r\n" (after the negotiation
//   greeting on the telnet accepter) and is closed; the first keeps its connection. With
//   `kickolduser: true` the first is closed without a word and the second takes over. A client
//   on the other accepter of a busy device gets "Port's device already in use\r\n" and is
//   closed, with or without kickolduser.
// - An accepter that cannot bind is logged ("Unable to startup network port") and ser2net runs
//   on without it; in that state it ignores SIGTERM.
class Ser2Net
{
public:
    // The program, empty when it is not installed (tools/deps.sh test installs it).
    static QString Program();

    // Starts serving `devices` and waits until every accepter listens. Ports taken by someone
    // else meanwhile are given up for fresh ones.
    explicit Ser2Net(const QStringList& devices, const Ser2NetOptions& options = {});
    // Stops the server (SIGTERM, then SIGKILL if it does not go).
    ~Ser2Net();
    Ser2Net(const Ser2Net&) = delete;
    Ser2Net& operator=(const Ser2Net&) = delete;

    // Every accepter listens and the server has not been stopped.
    bool IsRunning() const;
    // Why it did not start, with the server's log.
    QString Error() const { return m_error; }
    QByteArray Log() const;

    quint16 RawPort(int device = 0) const { return m_rawPorts.at(std::size_t(device)); }
    quint16 TelnetPort(int device = 0) const { return m_telnetPorts.at(std::size_t(device)); }

    // Kills the server at once, as a crash or a pulled cable would: clients see their
    // connections reset or closed.
    void Kill();

private:
    bool StartOnce(const QStringList& devices, const Ser2NetOptions& options);
    bool WaitUntilListening();
    void Stop(bool gently);

    QTemporaryDir m_dir;
    QProcess m_process;
    std::vector<quint16> m_rawPorts;
    std::vector<quint16> m_telnetPorts;
    QString m_error;
};
