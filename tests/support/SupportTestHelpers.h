#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

// Every test of this folder runs with its own configuration folder, set before anything asks
// where the settings live.
inline void UseTemporaryConfigHome(const QTemporaryDir& dir)
{
    QVERIFY(dir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Collects what is written to file descriptor 2 while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        m_file = m_dir.filePath(QStringLiteral("stderr.txt"));
        const int fd = ::open(QFile::encodeName(m_file).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QByteArray Text()
    {
        Restore();
        return ReadBytes(m_file);
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryDir m_dir;
    QString m_file;
    int m_saved = -1;
};

// Makes any file write beyond `bytes` fail with EFBIG, as a full disk would, while it lives. This
// works for root too, whom read-only folders do not stop.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// A shared-memory object published as another process would, removed again when it goes.
class SharedMemoryObject
{
public:
    SharedMemoryObject(const QByteArray& name, const QByteArray& content) : m_name(name)
    {
        const int fd = ::shm_open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        m_created = ::write(fd, content.constData(), content.size()) == content.size();
        ::close(fd);
    }
    ~SharedMemoryObject() { ::shm_unlink(m_name.constData()); }
    SharedMemoryObject(const SharedMemoryObject&) = delete;
    SharedMemoryObject& operator=(const SharedMemoryObject&) = delete;

    bool Created() const { return m_created; }

private:
    QByteArray m_name;
    bool m_created = false;
};

// Everything in a folder, hidden files included: a failed atomic write must leave
// no temporary file behind.
inline QStringList EntriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}
