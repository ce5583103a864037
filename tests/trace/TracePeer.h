#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

// Points XDG_RUNTIME_DIR at a fresh private folder for its lifetime, so trace windows found and
// created by a test are the test's own.
class PrivateRuntime
{
public:
    PrivateRuntime() : m_hadOld(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
    {
        m_old = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    }
    ~PrivateRuntime()
    {
        if (m_hadOld)
            qputenv("XDG_RUNTIME_DIR", m_old);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    PrivateRuntime(const PrivateRuntime&) = delete;
    PrivateRuntime& operator=(const PrivateRuntime&) = delete;

    QString path() const { return m_dir.path(); }
    QString SocketPath() const { return m_dir.path() + QStringLiteral("/DUdiroWindow"); }
    QStringList Entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_dir;
    bool m_hadOld;
    QByteArray m_old;
};

// The helper process of the trace tests (trace_peer.cpp), with its output read line by line.
class TracePeer
{
public:
    ~TracePeer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Starts the helper and, for the listening modes, waits until it listens.
    bool Start(const QStringList& arguments)
    {
        m_process.start(QStringLiteral(TRACE_PEER_PATH), arguments);
        if (!m_process.waitForStarted(5000))
            return false;
        return arguments.value(0) == QLatin1String("send") || NextLine(5000) == "ready";
    }

    // The next line the helper prints, or empty after `ms` without one.
    QByteArray NextLine(int ms)
    {
        const QDeadlineTimer deadline(ms);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() ||
                !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return {};
        }
        return m_process.readLine().trimmed();
    }

    // Everything printed within `ms`.
    QByteArrayList LinesFor(int ms)
    {
        QByteArrayList lines;
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            const QByteArray line = NextLine(static_cast<int>(deadline.remainingTime()));
            if (!line.isEmpty())
                lines.append(line);
        }
        return lines;
    }

    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};
