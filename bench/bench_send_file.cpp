// Send File on an unpaced pseudo-terminal: how fast 50 MB leaves the console when the other end
// reads as fast as it can, how much resident memory grows meanwhile, and the longest pass of the
// event loop. The block size follows the chosen line speed, so each speed is a row.
#include "ConsoleDriving.h"
#include "EventLoopTiming.h"

#include "app/FileSendDlg.h"
#include "serial/PortFolder.h"
#include "support/RandomSource.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include "bench/ProcessFigures.h"

#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

constexpr int kPort = 9;
constexpr qint64 kFileBytes = 50LL * 1024 * 1024;

bool WriteFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 131);
    for (qint64 done = 0; done < kFileBytes; done += block.size())
        if (file.write(block) != block.size())
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    TimedApplication app(argc, argv);
    TempConfigHome home;
    const QString path = home.filePath(QStringLiteral("send.bin"));
    if (!WriteFile(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("Send File, %lld MB on an unpaced pseudo-terminal (%s build)\n",
                kFileBytes / (1024 * 1024), ORVEXA_BUILD_TYPE);
    std::printf("%-8s %8s %10s %10s %12s %12s %10s %6s  %s\n", "speed", "block", "MB/s", "CPU s",
                "RSS growth", "peak growth", "longest", ">16ms",
                "longest event (type, receiver), first 100 ms");

    SeededRandom rng(1);
    for (const int speedIndex : {8, 9}) {
        PseudoTerminal module;
        if (!module.PublishAs(kPort))
            return 1;
        CConsoleDlg console(rng);
        console.show();
        if (!OpenPort(console, kPort, speedIndex))
            return 1;
        std::atomic<bool> done = false;
        std::atomic<qint64> received = 0;
        std::thread reader([&] {
            while (!done)
                received += module.ReadFor(20).size();
        });
        RunEventsFor(200);
        received = 0;

        const int bytesPerSecond = GetBaudRateText(speedIndex).toInt() / 10;
        auto* sending =
            new FileSendDlg(console.Comm(), qobject_cast<ReceiveView*>(console.Item(ids::kReceive)),
                            bytesPerSecond, &console);
        const long rssBefore = ResidentKiB();
        long rssPeak = rssBefore;
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, &sample,
                         [&] { rssPeak = std::max(rssPeak, ResidentKiB()); });
        sample.start(20);
        app.ResetFigures();
        QElapsedTimer clock;
        clock.start();
        const std::clock_t cpuStart = std::clock();
        bool finished = false;
        QObject::connect(&sending->Sender(), &FileSender::Finished, &console,
                         [&] { finished = true; });
        sending->Send(path);
        const qsizetype blockUsed = sending->Sender().BlockSize();
        // The window's first layout and paint are a start-up cost, not a cost of sending: the
        // figures below count from the first tenth of a second on, and the start is shown apart.
        qint64 startNs = -1;
        while (!finished || received < kFileBytes) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            if (startNs < 0 && clock.elapsed() > 100) {
                startNs = app.longestEventNs;
                app.ResetFigures();
            }
            if (clock.elapsed() > 600000)
                break;
        }
        const double seconds = clock.elapsed() / 1000.0;
        const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        sample.stop();
        const long rssAfter = ResidentKiB();
        done = true;
        reader.join();
        std::printf("%-8s %8lld %10.1f %10.2f %9.1f MB %9.1f MB %7.1f ms %6d  %d, %s, %.1f ms%s\n",
                    qPrintable(GetBaudRateText(speedIndex)), static_cast<long long>(blockUsed),
                    received / seconds / 1e6, cpu, (rssAfter - rssBefore) / 1024.0,
                    (rssPeak - rssBefore) / 1024.0, app.longestEventNs / 1e6, app.eventsOverBudget,
                    int(app.longestEventType), app.longestEventReceiver, startNs / 1e6,
                    received == kFileBytes ? "" : "  (incomplete)");
    }
    std::printf("CPU s counts both threads: the console's and the reader's.\n");
    return 0;
}
