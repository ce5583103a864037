// orvexa-trace: the trace window on its own. Started before the consoles, it receives the trace
// lines of every console started afterwards by the same user.

#include "trace/TraceSocket.h"
#include "trace/TraceWnd.h"

#include <QApplication>
#include <QLocalSocket>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvexa-trace"));

    QString error;
    const QString path = trace_socket::SocketPath(&error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "orvexa-trace: %s\n", qPrintable(error));
        return 1;
    }
    QLocalSocket probe;
    switch (trace_socket::Connect(probe, path, 500)) {
    case trace_socket::Lookup::Found:
        std::fprintf(stderr, "orvexa-trace: a trace window is already running at %s\n",
                     qPrintable(path));
        return 1;
    case trace_socket::Lookup::Unanswered:
        std::fprintf(stderr, "orvexa-trace: %s is taken but does not answer\n", qPrintable(path));
        return 1;
    case trace_socket::Lookup::Absent:
        break;
    }

    CTraceWnd window;
    // A window of its own, not a tool window, so closing it ends the program.
    window.setWindowFlag(Qt::Tool, false);
    if (!window.Listen(path, &error)) {
        std::fprintf(stderr, "orvexa-trace: cannot listen at %s: %s\n", qPrintable(path),
                     qPrintable(error));
        return 1;
    }
    window.MoveToRect();
    window.setWindowTitle(QStringLiteral("SuperDUdiro"));
    window.show();
    std::fprintf(stderr, "orvexa-trace: listening at %s\n", qPrintable(path));
    return application.exec();
}
