// Figures for the virtual module: statements executed per CPU second on Demo 1's stream, fed
// in-process (also while File > Record Script records it) and through a real pseudo-terminal
// unpaced; memory after Demo 1; the line speed
// a pseudo-terminal reports before and after the console's end sets one; and whether the module
// with its window keeps up with 230400 baud of long Print statements (--long N statements,
// 40 by default, --length L characters each, 8000 by default).

#include "commands/Demos.h"
#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"
#include "module/ModuleRecorder.h"
#include "module/ModuleWindow.h"
#include "module/SamplePictures.h"
#include "tests/common/TempConfigHome.h"

#include "EventLoopTiming.h"

#include "bench/ProcessFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

constexpr double kTargetPerSecond = 20'000;

QByteArray Demo1Stream()
{
    SeededRandom rng(20261208);
    QByteArray stream;
    for (const QByteArray& send : Demo1Sends(rng))
        stream += send;
    return stream;
}

// With `recordTo`, a recording of the module runs meanwhile and is written there.
void InProcess(const QByteArray& stream, const QString& storage, const QString& recordTo = {})
{
    std::vector<double> rates;
    for (int run = 0; run < 5; ++run) {
        ModuleEngine engine(storage);
        ModuleRecorder recorder(engine);
        QString error;
        if (!recordTo.isEmpty() && !recorder.Start(recordTo, {}, &error))
            std::printf("  cannot record: %s\n", qPrintable(error));
        const double start = CpuSeconds();
        // In the pieces a pseudo-terminal read hands over.
        for (qsizetype at = 0; at < stream.size(); at += 4096)
            engine.Feed(
                QByteArrayView(stream).sliced(at, std::min<qsizetype>(4096, stream.size() - at)));
        if (!recordTo.isEmpty() && !recorder.Stop(&error))
            std::printf("  recording failed: %s\n", qPrintable(error));
        const double cpu = CpuSeconds() - start;
        rates.push_back(double(engine.StatementCount()) / cpu);
        if (engine.UnknownCount() != 0)
            std::printf("  unknown statements: %lld (should be 0)\n", engine.UnknownCount());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("in-process%s, Demo 1 (10,003 statements), 5 runs: median %.0f, best %.0f "
                "statements per CPU second (target %.0f: %s)\n",
                recordTo.isEmpty() ? "" : " while recording", rates[2], rates[4], kTargetPerSecond,
                rates[2] >= kTargetPerSecond ? "met" : "MISSED");
    std::printf("memory after Demo 1: VmRSS %ld KiB, peak VmHWM %ld KiB\n", StatusKiB("VmRSS:"),
                StatusKiB("VmHWM:"));
}

void ThroughTheLine(const QByteArray& stream, const QString& storage)
{
    TempConfigHome home;
    ModuleLine line;
    if (const QString error = line.Open(0); !error.isEmpty()) {
        std::printf("line: %s\n", qPrintable(error));
        return;
    }
    line.SetPaced(false);
    std::printf("pseudo-terminal line speed before the console sets one: %d\n", line.LineSpeed());
    const int console = ::open(qPrintable(line.DevicePath()), O_RDWR | O_NOCTTY);
    termios settings{};
    ::tcgetattr(console, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B230400);
    ::tcsetattr(console, TCSANOW, &settings);
    std::printf("after the console's end sets 230400: %d\n", line.LineSpeed());

    ModuleEngine engine(storage);
    QObject::connect(&line, &ModuleLine::Received, &engine, &ModuleEngine::Feed);
    QElapsedTimer wall;
    wall.start();
    const double start = CpuSeconds();
    std::thread writer([&] {
        qsizetype done = 0;
        while (done < stream.size()) {
            const ssize_t n =
                ::write(console, stream.constData() + done, size_t(stream.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
    });
    while (engine.StatementCount() < 10003 && wall.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double cpu = CpuSeconds() - start;
    writer.join();
    ::close(console);
    std::printf("through a pseudo-terminal, unpaced: %lld statements, %lld unknown, %.3f s wall, "
                "%.0f statements per CPU second (both ends of the line in this process)\n",
                engine.StatementCount(), engine.UnknownCount(), wall.elapsed() / 1000.0,
                double(engine.StatementCount()) / cpu);
}

// The module as it runs: paced line, engine and window, on one thread. The console's end writes
// as fast as the pseudo-terminal takes bytes; paced, the module reads at most the line rate, so
// keeping up means finishing in about the time the line needs, with CPU to spare.
void LongStatements(TimedApplication& application, const QString& storage, bool paced, int count,
                    int length)
{
    TempConfigHome home;
    ModuleLine line;
    if (const QString error = line.Open(0); !error.isEmpty()) {
        std::printf("line: %s\n", qPrintable(error));
        return;
    }
    line.SetPaced(paced);
    const int console = ::open(qPrintable(line.DevicePath()), O_RDWR | O_NOCTTY);
    termios settings{};
    ::tcgetattr(console, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B230400);
    ::tcsetattr(console, TCSANOW, &settings);

    ModuleEngine engine(storage);
    ModuleWindow window(engine, QStringLiteral("COM1"));
    window.show();
    QObject::connect(&line, &ModuleLine::Received, &engine, &ModuleEngine::Feed);
    QByteArray stream;
    for (int i = 0; i < count; ++i) {
        QByteArray text(length, 'a' + char(i % 26));
        stream += "Print '" + text + "',10," + QByteArray::number(10 + i % 400) + ";\r\n";
    }
    application.processEvents();
    application.ResetFigures();
    QElapsedTimer wall;
    wall.start();
    const double start = CpuSeconds();
    std::thread writer([&] {
        qsizetype done = 0;
        while (done < stream.size()) {
            const ssize_t n =
                ::write(console, stream.constData() + done, size_t(stream.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
    });
    // A real loop, not processEvents() with a time limit: that one never waits, and its spinning
    // would be counted as the module's CPU time.
    QEventLoop loop;
    QObject::connect(&engine, &ModuleEngine::CountsChanged, &loop, [&] {
        if (engine.StatementCount() + engine.UnknownCount() >= count)
            loop.quit();
    });
    QTimer::singleShot(600'000, &loop, &QEventLoop::quit);
    loop.exec();
    // The window's last frame is part of the work.
    QTest::qWait(100);
    const double seconds = wall.elapsed() / 1000.0 - 0.1;
    const double cpu = CpuSeconds() - start;
    writer.join();
    ::close(console);
    const double lineSeconds = double(stream.size()) * 10 / 230400;
    std::printf("%s, window shown: %d Print statements of %d characters (%lld bytes): %lld done, "
                "%lld unknown, %.2f s wall (the line needs %.2f s at 230400 baud), %.0f bytes/s, "
                "%.2f CPU-s, longest event %.1f ms (%s): %s\n",
                paced ? "paced at 230400 baud" : "unpaced", count, length,
                static_cast<long long>(stream.size()), engine.StatementCount(),
                engine.UnknownCount(), seconds, lineSeconds, double(stream.size()) / seconds, cpu,
                application.longestEventNs / 1e6, application.longestEventReceiver,
                (paced ? seconds <= lineSeconds * 1.1 : seconds <= lineSeconds) && cpu < seconds
                    ? "keeps up"
                    : "FALLS BEHIND");
}

int IntOption(const QStringList& arguments, const QString& name, int fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1].toInt() : fallback;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    std::printf("bench_module (%s build)\n", ORVEXA_BUILD_TYPE);
    QTemporaryDir storage;
    CreateSamplePictures(storage.path());
    const QByteArray stream = Demo1Stream();
    std::printf("Demo 1 stream: %lld bytes\n", static_cast<long long>(stream.size()));
    InProcess(stream, storage.path());
    InProcess(stream, storage.path(), storage.filePath(QStringLiteral("recording.ots")));
    ThroughTheLine(stream, storage.path());
    const QStringList arguments = QCoreApplication::arguments();
    const int count = IntOption(arguments, QStringLiteral("--long"), 40);
    const int length = IntOption(arguments, QStringLiteral("--length"), 8000);
    LongStatements(application, storage.path(), false, count, length);
    LongStatements(application, storage.path(), true, count, length);
    return 0;
}
