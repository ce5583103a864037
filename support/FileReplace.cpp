#include "support/FileReplace.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

bool IsReplaceableFile(const QString& path, QString* error)
{
    const QFileInfo info(path);
    // A dangling link is followed by the rename's writer to make its target; a link to
    // something else is judged by what it points to.
    if (!info.exists() || info.isFile())
        return true;
    if (error) {
        *error = info.isDir() ? QStringLiteral("it is a folder")
                              : QStringLiteral("it is not a regular file (a device, a pipe or "
                                               "a socket), and is left as it is");
    }
    return false;
}

bool ReplaceFileWhole(const QString& path, QByteArrayView bytes, QString* error)
{
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no file name");
        return false;
    }
    if (!IsReplaceableFile(path, error))
        return false;
    // Unbuffered: a buffered write is only handed to the file system when the writer commits,
    // and a failure there was not reported, so a full disk renamed an empty file over the old
    // one. Each write now fails where it fails.
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    // A write cut short is followed by another, which then tells why (a full disk, a limit).
    for (qsizetype done = 0; written && done < bytes.size();) {
        const qint64 count = file.write(bytes.data() + done, bytes.size() - done);
        written = count > 0;
        done += written ? count : 0;
    }
    if (written && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    if (file.isOpen())
        file.cancelWriting();
    return false;
}

FolderLock::FolderLock(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    UniqueFd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isValid())
        return;
    int result = 0;
    do
        result = ::flock(fd.get(), LOCK_EX);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        m_fd = std::move(fd);
}
