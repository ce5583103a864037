// Trace lines per second and their round-trip time, to a trace window in another process (this
// program started again as the viewer) and to the window in this process, and the memory a full
// window holds. The console's GUI thread waits for every line sent to another process, so the
// round trip is what a traced handler pays per line.
#include "support/ui/ReceiveView.h"
#include "trace/TraceClient.h"
#include "trace/TraceSocket.h"
#include "trace/TraceWnd.h"

#include "bench/ProcessFigures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int RunViewer()
{
    QString error;
    CTraceWnd window;
    if (!window.Listen(trace_socket::SocketPath(&error), &error)) {
        std::fprintf(stderr, "viewer: %s\n", qPrintable(error));
        return 1;
    }
    window.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

void Measure(const char* name, int lines)
{
    const QByteArray text = QByteArray("Set Comm Port 7 ") + QByteArray(48, 'x');
    std::vector<qint64> ns;
    ns.reserve(static_cast<std::size_t>(lines));
    QElapsedTimer total, one;
    total.start();
    for (int i = 0; i < lines; ++i) {
        one.start();
        TraceText(text, (i & 1) != 0);
        ns.push_back(one.nsecsElapsed());
    }
    const double seconds = static_cast<double>(total.nsecsElapsed()) / 1e9;
    // The first line includes finding or opening the window; the rest is the steady cost.
    const qint64 first = ns.front();
    ns.erase(ns.begin());
    std::sort(ns.begin(), ns.end());
    std::printf("  %-30s %7.0f lines/s  first %7.2f ms  then median %6.1f us  99%% %7.1f us  "
                "max %6.2f ms (%lld over 16 ms)\n",
                name, lines / seconds, first / 1e6, ns[ns.size() / 2] / 1e3,
                ns[ns.size() * 99 / 100] / 1e3, ns.back() / 1e6,
                static_cast<long long>(
                    std::count_if(ns.begin(), ns.end(), [](qint64 t) { return t > 16'000'000; })));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "viewer")
        return RunViewer();

    std::printf("Trace lines (%s build), 64-byte lines, half of them time-stamped\n",
                ORVEXA_BUILD_TYPE);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QTemporaryFile marker;
    if (!runtime.isValid() || !marker.open())
        return 1;

    QProcess viewer;
    viewer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("viewer")});
    if (!viewer.waitForReadyRead(10000) || !viewer.readLine().startsWith("ready")) {
        std::fprintf(stderr, "the viewer did not start\n");
        return 1;
    }
    ResetTraceMarker(marker.fileName());
    ResetTraceWindow();
    Measure("to another process", 20000);
    viewer.kill();
    viewer.waitForFinished();

    ResetTraceWindow();
    const long before = ResidentKiB();
    Measure("to the window in this process", 100000);
    CTraceWnd* window = InProcessTraceWindow();
    QCoreApplication::processEvents();
    std::printf("  window holding %lld lines (%lld dropped): %ld KiB more resident, view %lld "
                "characters\n",
                static_cast<long long>(window->Log().Size()),
                static_cast<long long>(window->Log().Dropped()), ResidentKiB() - before,
                static_cast<long long>(window->View()->textSize()));
    ResetTraceWindow();
    return 0;
}
