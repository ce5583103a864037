#pragma once

#include <QString>

class QLocalSocket;

// Where trace windows are found: a local socket named after their window class in the user's
// runtime folder. A successful connection means a trace window is running.
namespace trace_socket {

// `$XDG_RUNTIME_DIR` when it is a folder of this user that nobody else may enter; else a folder
// "orvexa-trace-<uid>" in the temporary folder, created with mode 0700 and refused when it exists
// as anything but such a folder (someone else could then read or fake the trace). Empty, with
// `error` set, when there is none.
QString RuntimeFolder(QString* error);

// The socket path in RuntimeFolder(), empty with `error` set when there is no folder.
QString SocketPath(QString* error);

enum class Lookup
{
    Found,      // connected: the socket is ready to send on
    Absent,     // nobody listens: the name is free (a stale socket file has been removed)
    Unanswered, // the name is taken but no connection came within the time limit
};

// Connects `socket` to the trace window at `path`, waiting at most `timeoutMs`.
Lookup Connect(QLocalSocket& socket, const QString& path, int timeoutMs);

} // namespace trace_socket
