#include "support/SharedString.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }

private:
    int m_fd;
};

QByteArray ObjectName(const QString& name)
{
    QString flat = name;
    flat.replace(u'\\', u'_').replace(u'/', u'_');
    return '/' + QFile::encodeName(flat);
}

} // namespace

QByteArray ReadSharedString(const QString& name, bool* found)
{
    if (found)
        *found = false;
    const FileDescriptor fd(::shm_open(ObjectName(name).constData(), O_RDONLY | O_CLOEXEC, 0));
    if (fd.Get() < 0)
        return {};
    if (found)
        *found = true;
    // Read rather than map: the publisher may shrink the object meanwhile, and a mapping would
    // then fault on the vanished pages, where read() just stops at the new end.
    QByteArray text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        const void* nul = std::memchr(chunk, '\0', static_cast<std::size_t>(got));
        if (nul) {
            text.append(chunk, static_cast<const char*>(nul) - chunk);
            break;
        }
        text.append(chunk, got);
    }
    return text;
}
