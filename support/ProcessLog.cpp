#include "support/ProcessLog.h"

#include "support/SharedString.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool AppendTo(const QByteArray& path, const QByteArray& line)
{
    if (path.isEmpty())
        return false;
    // Non-blocking, so a path that names a pipe nobody reads cannot stall the caller.
    const int fd = ::open(path.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, line);
    ::close(fd);
    return written;
}

} // namespace

void WriteProcessLog(QByteArrayView codeText)
{
    const qint64 pid = ::getpid();
    QByteArray code = codeText.toByteArray();
    // One call, one line: a line break inside the code would forge a second entry.
    code.replace('\r', ' ').replace('\n', ' ');
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() +
                            " pid " + QByteArray::number(pid) + ' ' + code + '\n';
    const QByteArray path = ReadSharedString(QStringLiteral("lgwpath_%1").arg(pid));
    if (!AppendTo(path, line))
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
}
