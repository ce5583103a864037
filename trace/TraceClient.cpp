#include "trace/TraceClient.h"

#include "support/FileUtil.h"
#include "support/SharedString.h"
#include "trace/TraceFrame.h"
#include "trace/TraceSocket.h"
#include "trace/TraceWnd.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>

#include <cstring>
#include <link.h>
#include <memory>

namespace {

struct MarkerState
{
    QString path = QStringLiteral(ORVEXA_MARKER_FILE);
    bool checked = false;
    bool present = false;
};

MarkerState& Marker()
{
    static MarkerState state;
    return state;
}

// Where trace commands go: a window in another process, reached through `remote`, or the window
// this process opened. Both empty until the lookup, and both may be empty after it.
struct WindowState
{
    bool lookupPending = true;
    std::unique_ptr<QLocalSocket> remote;
    QPointer<CTraceWnd> local;
};

WindowState& Window()
{
    static WindowState state;
    return state;
}

// Both must go before the application object does, which static destruction would be too late
// for: the window is a top-level widget, and the socket's notifier needs the event dispatcher.
void ReleaseTraceWindow()
{
    WindowState& state = Window();
    delete state.local.data();
    state.remote.reset();
}

quintptr ModuleInstanceHandle()
{
    quintptr address = 0;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            *static_cast<quintptr*>(data) = static_cast<quintptr>(info->dlpi_addr);
            return 1; // the first object is the program itself
        },
        &address);
    return address;
}

bool CreateInProcessWindow(WindowState& state)
{
    QString error;
    const QString path = trace_socket::SocketPath(&error);
    auto window = std::make_unique<CTraceWnd>();
    if (path.isEmpty() || !window->Listen(path, &error)) {
        qWarning("The trace window cannot listen: %s", qPrintable(error));
        return false;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->MoveToRect();
    window->show();
    window->setWindowTitle(QStringLiteral("SuperDUdiro"));
    state.local = window.release();
    return true;
}

bool SendToRemote(QLocalSocket& socket, QByteArrayView command)
{
    const QDeadlineTimer deadline(kAcknowledgeLimitMs);
    socket.write(trace_wire::EncodeFrame(command));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    socket.read(1);
    return true;
}

} // namespace

QString DefaultMarkerFilePath()
{
    return QStringLiteral(ORVEXA_MARKER_FILE);
}

bool IsTraceEnabled()
{
    MarkerState& marker = Marker();
    if (!marker.checked) {
        marker.checked = true;
        marker.present = CFileUtil::PathExists(marker.path);
    }
    return marker.present;
}

void ResetTraceMarker(const QString& markerPath)
{
    Marker() = MarkerState{markerPath};
}

void TraceText(QByteArrayView text, bool timestamped)
{
    if (!IsTraceEnabled())
        return;
    EnsureTraceWindow();
    if (const void* nul = text.isEmpty()
                              ? nullptr
                              : std::memchr(text.data(), '\0', static_cast<size_t>(text.size())))
        text = text.first(static_cast<const char*>(nul) - text.data());
    QByteArray command(timestamped ? "xta1t:" : "xta1:");
    command.append(text);
    SendTraceCommand(command);
}

void EnsureTraceWindow()
{
    WindowState& state = Window();
    if (!IsTraceEnabled() || !state.lookupPending)
        return;
    state.lookupPending = false;
    static const bool releaseAdded = [] {
        qAddPostRoutine(&ReleaseTraceWindow);
        return true;
    }();
    Q_UNUSED(releaseAdded);

    QString error;
    const QString path = trace_socket::SocketPath(&error);
    if (path.isEmpty()) {
        qWarning("No trace window can be looked for: %s", qPrintable(error));
    } else {
        auto socket = std::make_unique<QLocalSocket>();
        switch (trace_socket::Connect(*socket, path, kAcknowledgeLimitMs)) {
        case trace_socket::Lookup::Found:
            state.remote = std::move(socket);
            return;
        case trace_socket::Lookup::Absent:
            if (CreateInProcessWindow(state))
                return;
            break;
        case trace_socket::Lookup::Unanswered:
            break;
        }
    }
    TraceMessageBox(QStringLiteral("DUdiro window could not be created"), QString(),
                    QMessageBox::Ok, nullptr);
}

void SendTraceCommand(QByteArrayView command)
{
    WindowState& state = Window();
    if (state.local) {
        state.local->HandleCommand(command);
        return;
    }
    if (!state.remote)
        return;
    if (state.remote->state() != QLocalSocket::ConnectedState ||
        !SendToRemote(*state.remote, command)) {
        state.remote->abort();
        state.remote.reset();
    }
}

void TraceMessageBox(const QString& text, const QString& caption,
                     QMessageBox::StandardButtons buttons, QWidget* owner)
{
    QString title = caption;
    if (title.isEmpty()) {
        const QByteArray name = ReadSharedString(
            QStringLiteral("wapp_name_%1").arg(static_cast<qulonglong>(ModuleInstanceHandle())));
        title = QString::fromLocal8Bit(name);
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, buttons,
                    owner ? owner : QApplication::activeWindow());
    box.exec();
}

CTraceWnd* InProcessTraceWindow()
{
    return Window().local.data();
}

void ResetTraceWindow()
{
    ReleaseTraceWindow();
    Window() = WindowState{};
}
