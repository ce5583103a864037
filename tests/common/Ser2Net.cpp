#include "tests/common/Ser2Net.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kAttempts = 3;
// Generous: the server is up in milliseconds, but CI is a loaded machine.
constexpr int kStartMs = 20000;

// Distinct ports the kernel has just found free on 127.0.0.1. Another program may take one
// before ser2net binds it; the caller sees that and asks again.
std::vector<quint16> FreePorts(std::size_t count)
{
    std::vector<int> sockets;
    std::vector<quint16> ports;
    for (std::size_t i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        sockets.push_back(fd);
        ports.push_back(ntohs(address.sin_port));
    }
    for (const int fd : sockets)
        ::close(fd);
    return ports;
}

// The sockets of 127.0.0.1 in the listening state, by port, with their inodes. Looking, unlike
// connecting, makes ser2net open no device: a test connection would hold the device while it
// closes, and the other accepter of that device would turn away the test's first client.
QHash<quint16, QString> ListeningInodes()
{
    QHash<quint16, QString> inodes;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return inodes;
    table.readLine(); // the heading
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
        if (fields.size() < 10 || fields[3] != "0A" || !fields[1].startsWith("0100007F:"))
            continue;
        bool ok = false;
        const quint16 port = quint16(fields[1].mid(9).toUInt(&ok, 16));
        if (ok)
            inodes.insert(port, QString::fromLatin1(fields[9]));
    }
    return inodes;
}

QSet<QString> SocketInodesOf(qint64 pid)
{
    QSet<QString> inodes;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(folder).entryList(QDir::Files | QDir::System)) {
        const QString target = QFile::symLinkTarget(folder + u'/' + fd);
        const QString name = target.mid(target.lastIndexOf(u'/') + 1);
        if (name.startsWith(QLatin1String("socket:[")))
            inodes.insert(name.mid(8).chopped(1));
    }
    return inodes;
}

QString Connection(const QString& name, const QString& accepter, const QString& device,
                   const Ser2NetOptions& options)
{
    QString text = QStringLiteral("connection: &%1\n"
                                  "    accepter: %2\n"
                                  "    connector: serialdev,%3,%4\n")
                       .arg(name, accepter, device, options.serialSettings);
    if (!options.connectionOptions.isEmpty()) {
        text += QStringLiteral("    options:\n");
        for (const QString& line : options.connectionOptions)
            text += QStringLiteral("      ") + line + u'\n';
    }
    return text;
}

} // namespace

QString Ser2Net::Program()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                               {QStringLiteral("/usr/sbin"),
                                                QStringLiteral("/usr/local/sbin"),
                                                QStringLiteral("/sbin")});
    return found;
}

Ser2Net::Ser2Net(const QStringList& devices, const Ser2NetOptions& options)
{
    if (Program().isEmpty()) {
        m_error = QStringLiteral("ser2net is not installed");
        return;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for ser2net's configuration");
        return;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (StartOnce(devices, options))
            return;
        Stop(false);
    }
}

Ser2Net::~Ser2Net()
{
    Stop(true);
}

bool Ser2Net::StartOnce(const QStringList& devices, const Ser2NetOptions& options)
{
    const std::vector<quint16> ports = FreePorts(2 * std::size_t(devices.size()));
    if (ports.size() != 2 * std::size_t(devices.size())) {
        m_error = QStringLiteral("no free loopback ports");
        return false;
    }
    m_rawPorts.assign(ports.begin(), ports.begin() + devices.size());
    m_telnetPorts.assign(ports.begin() + devices.size(), ports.end());

    QString config = QStringLiteral("%YAML 1.1\n---\n");
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const QString port = QString::number(m_rawPorts[std::size_t(i)]);
        const QString telnetPort = QString::number(m_telnetPorts[std::size_t(i)]);
        config += Connection(QStringLiteral("raw%1").arg(i),
                             QStringLiteral("tcp,127.0.0.1,") + port, devices[i], options);
        config += Connection(QStringLiteral("telnet%1").arg(i),
                             QStringLiteral("telnet(rfc2217),tcp,127.0.0.1,") + telnetPort,
                             devices[i], options);
    }
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(config.toUtf8()) != config.toUtf8().size() || !file.flush()) {
        m_error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();

    // -d: foreground, log to standard output (here a file) instead of syslog; -u: no UUCP lock
    // files, which need a system folder and mean nothing for a test's own devices.
    m_process.setProgram(Program());
    m_process.setArguments({QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"),
                            file.fileName(), QStringLiteral("-P"),
                            m_dir.filePath(QStringLiteral("ser2net.pid"))});
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("ser2net.log")));
    m_process.setStandardInputFile(QProcess::nullDevice());
    // A test that crashes takes its server with it instead of leaving it on the ports.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start();
    if (!m_process.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("ser2net did not start: ") + m_process.errorString();
        return false;
    }
    if (!WaitUntilListening())
        return false;
    m_error.clear();
    return true;
}

bool Ser2Net::WaitUntilListening()
{
    QDeadlineTimer deadline(kStartMs);
    for (;;) {
        const QHash<quint16, QString> listening = ListeningInodes();
        const QSet<QString> own = SocketInodesOf(m_process.processId());
        bool all = true;
        for (const auto* ports : {&m_rawPorts, &m_telnetPorts})
            for (const quint16 port : *ports)
                all = all && own.contains(listening.value(port));
        if (all)
            return true;
        if (Log().contains("Unable to startup network port")) {
            m_error = QStringLiteral("a port was taken before ser2net could bind it:\n") +
                      QString::fromLocal8Bit(Log());
            return false;
        }
        // Waits a little for the condition, and notices an exit meanwhile.
        if (m_process.waitForFinished(5) || m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("ser2net exited (%1):\n%2")
                          .arg(m_process.exitCode())
                          .arg(QString::fromLocal8Bit(Log()));
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("ser2net did not listen within %1 ms:\n%2")
                          .arg(kStartMs)
                          .arg(QString::fromLocal8Bit(Log()));
            return false;
        }
    }
}

bool Ser2Net::IsRunning() const
{
    return m_error.isEmpty() && m_process.state() == QProcess::Running;
}

QByteArray Ser2Net::Log() const
{
    QFile log(m_dir.filePath(QStringLiteral("ser2net.log")));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

void Ser2Net::Kill()
{
    Stop(false);
}

void Ser2Net::Stop(bool gently)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    if (gently) {
        m_process.terminate();
        if (m_process.waitForFinished(5000))
            return;
    }
    m_process.kill();
    m_process.waitForFinished(5000);
}
