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

FileReplacement::FileReplacement(const QString& path) : m_path(path) {}

FileReplacement::~FileReplacement()
{
    if (m_file && m_file->isOpen())
        m_file->cancelWriting();
}

bool FileReplacement::Open(QString* error)
{
    if (m_path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no file name");
        return false;
    }
    if (!IsReplaceableFile(m_path, error))
        return false;
    // Unbuffered: a buffered write is only handed to the file system when the writer commits,
    // and a failure there was not reported, so a full disk renamed an empty file over the old
    // one. Each write now fails where it fails.
    m_file = std::make_unique<QSaveFile>(m_path);
    return m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered) || Fail(error);
}

bool FileReplacement::Write(QByteArrayView bytes, QString* error)
{
    if (!m_file || !m_file->isOpen())
        return Fail(error);
    // A write cut short is followed by another, which then tells why (a full disk, a limit).
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 count = m_file->write(bytes.data() + done, bytes.size() - done);
        if (count <= 0)
            return Fail(error);
        done += count;
    }
    return true;
}

bool FileReplacement::Commit(QString* error)
{
    return (m_file && m_file->isOpen() && m_file->commit()) || Fail(error);
}

bool FileReplacement::Fail(QString* error)
{
    if (error)
        *error = m_file ? m_file->errorString() : QStringLiteral("not open");
    if (m_file && m_file->isOpen())
        m_file->cancelWriting();
    return false;
}

bool ReplaceFileWhole(const QString& path, QByteArrayView bytes, QString* error)
{
    FileReplacement file(path);
    return file.Open(error) && file.Write(bytes, error) && file.Commit(error);
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
