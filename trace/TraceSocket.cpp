#include "trace/TraceSocket.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace trace_socket {

namespace {

const QString kWindowClass = QStringLiteral("DUdiroWindow");

bool IsPrivateFolder(const QString& path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

} // namespace

QString RuntimeFolder(QString* error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && IsPrivateFolder(runtime))
        return QDir::cleanPath(runtime);

    const QString folder =
        QDir::tempPath() +
        QStringLiteral("/orvexa-trace-%1").arg(static_cast<qulonglong>(::geteuid()));
    const QByteArray encoded = QFile::encodeName(folder);
    // mkdir with the final mode at once: a folder created open and narrowed later would leave a
    // moment in which another user could step in.
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("cannot create the trace folder %1: %2")
                         .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    if (!IsPrivateFolder(folder)) {
        if (error)
            *error = QStringLiteral("the trace folder %1 is not a folder of this user with mode "
                                    "0700")
                         .arg(folder);
        return {};
    }
    return folder;
}

QString SocketPath(QString* error)
{
    const QString folder = RuntimeFolder(error);
    return folder.isEmpty() ? QString() : folder + u'/' + kWindowClass;
}

Lookup Connect(QLocalSocket& socket, const QString& path, int timeoutMs)
{
    socket.connectToServer(path);
    if (socket.state() == QLocalSocket::ConnectedState || socket.waitForConnected(timeoutMs))
        return Lookup::Found;
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
        return Lookup::Absent;
    case QLocalSocket::ConnectionRefusedError:
        // A socket file nobody listens on is what a crashed window leaves behind.
        QLocalServer::removeServer(path);
        return Lookup::Absent;
    default:
        socket.abort();
        return Lookup::Unanswered;
    }
}

} // namespace trace_socket
