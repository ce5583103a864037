// Figures for Demo 1, which puts 10,002 statements into the output queue at once: how long its
// handler takes, how much memory the full queue costs, and whether the window stays live while the
// queue drains at 38400 baud into a pseudo-terminal whose other end reads at the line's rate.
#include "EventLoopTiming.h"

#include "app/ConsoleDlg.h"
#include "bench/ConsoleDriving.h"
#include "bench/ProcessFigures.h"
#include "resources/ControlIds.h"
#include "support/RandomSource.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"
#include "trace/TraceClient.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr int kPort = 9;
constexpr int k38400 = 5;                   // speed list index
constexpr int kBytesPerSecond = 38400 / 10; // 8 data bits, a start and a stop bit

void Click(CConsoleDlg& console, int id)
{
    qobject_cast<QAbstractButton*>(console.Item(id))->click();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    TempConfigHome home;
    const QString marker = home.filePath(QStringLiteral("marker"));
    QFile(marker).open(QIODevice::WriteOnly);
    ResetTraceMarker(marker);

    PseudoTerminal module;
    if (!module.PublishAs(kPort))
        return std::fprintf(stderr, "cannot publish a pseudo-terminal\n"), 1;
    SeededRandom rng(1);
    CConsoleDlg console(rng);
    console.show();
    if (!OpenPort(console, kPort, k38400) || module.ReadExactly(20, 3000) != "MakeTestEnvironment;")
        return std::fprintf(stderr, "the port did not open\n"), 1;

    const long rssBefore = ResidentKiB();
    QElapsedTimer handler;
    handler.start();
    Click(console, ids::kDemo1);
    const qint64 handlerNs = handler.nsecsElapsed();
    const long rssFull = ResidentKiB();
    const qint64 queued = console.Comm().QueuedOutputBytes();

    // The module's end takes bytes no faster than the line would deliver them.
    std::atomic<bool> stop = false;
    std::atomic<qint64> received = 0;
    std::thread reader([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!stop) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            const qint64 due =
                std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() *
                kBytesPerSecond / 1000;
            if (due > received)
                received += module.ReadExactly(due - received, 20).size();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    app.ResetFigures();
    TickGapWatch ticks;
    ticks.Start();
    QElapsedTimer drain;
    drain.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (console.Comm().QueuedOutputBytes() == 0 || drain.elapsed() > 180000)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    const qint64 drainMs = drain.elapsed();
    ticks.Stop();
    stop = true;
    reader.join();

    std::printf("Demo 1 (%s build)\n", ORVEXA_BUILD_TYPE);
    std::printf("  handler time:              %.1f ms\n", handlerNs / 1e6);
    std::printf("  queued when it returned:   %lld bytes\n", static_cast<long long>(queued));
    std::printf("  resident memory:           %ld KiB before, %ld KiB with the queue full (+%ld)\n",
                rssBefore, rssFull, rssFull - rssBefore);
    std::printf("  drained at 38400 baud in:  %.1f s (%lld bytes read)\n", drainMs / 1000.0,
                static_cast<long long>(received.load()));
    std::printf("  longest event-loop pass:   %.2f ms (%s), %d over 16 ms\n",
                app.longestEventNs / 1e6, app.longestEventReceiver, app.eventsOverBudget);
    std::printf("  longest 1 ms tick gap:     %.2f ms, %d over budget\n", ticks.longestGapNs / 1e6,
                ticks.gapsOverBudget);
    const bool met = app.eventsOverBudget == 0 && console.Comm().QueuedOutputBytes() == 0;
    std::printf("  target (no pass over 16 ms while draining): %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
