#pragma once

#include "support/UniqueFd.h"

#include <QByteArrayView>
#include <QString>

#include <memory>

class QSaveFile;

// Replaces the file at `path` with `bytes`, or creates it: the new content is written beside it
// and renamed over it only once every byte has reached the file system, so a full disk, a crash
// or a refusal leaves the old file exactly as it was. Only a regular file (or a symbolic link to
// one) is replaced; a device, a pipe, a folder or a socket is left alone. On failure `error`
// (when given) says why, in words for the user.
bool ReplaceFileWhole(const QString& path, QByteArrayView bytes, QString* error = nullptr);

// The same, for content made in parts: each Write goes to the file system at once, beside the
// file, and Commit() renames it over the file only when every part got there. Without a commit
// (a failed write, or the object going first) the file stays as it was.
class FileReplacement
{
public:
    explicit FileReplacement(const QString& path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False (with the reason in `error`) when the path is no regular file, or nothing can be
    // written beside it.
    bool Open(QString* error = nullptr);
    bool Write(QByteArrayView bytes, QString* error = nullptr);
    bool Commit(QString* error = nullptr);

private:
    bool Fail(QString* error);

    QString m_path;
    std::unique_ptr<QSaveFile> m_file;
};

// Whether `path` may be written by ReplaceFileWhole: missing, or a regular file. Otherwise false,
// with the reason in `error`.
bool IsReplaceableFile(const QString& path, QString* error = nullptr);

// Holds an exclusive lock on the folder of `path` between processes for as long as it lives,
// waiting for another holder to let go. A read-modify-write of a file done under it cannot lose
// what another process wrote in between. The folder rather than the file is locked because the
// file is replaced by a rename and a lock on it would stay with the old copy; the folder also
// needs no lock file of its own. Without a folder to lock (not made yet, not readable) nothing is
// held and the caller goes on as before.
class FolderLock
{
public:
    explicit FolderLock(const QString& path);
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool IsHeld() const { return m_fd.isValid(); }

private:
    UniqueFd m_fd;
};
