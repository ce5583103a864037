// Figures for the virtual module: statements executed per CPU second on Demo 1's stream, fed
// in-process and through a real pseudo-terminal unpaced; memory after Demo 1; and the line speed
// a pseudo-terminal reports before and after the console's end sets one.

#include "commands/Demos.h"
#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"
#include "module/SamplePictures.h"
#include "tests/common/TempConfigHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

constexpr double kTargetPerSecond = 20'000;

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long StatusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QByteArray Demo1Stream()
{
    SeededRandom rng(20261208);
    QByteArray stream;
    for (const QByteArray& send : Demo1Sends(rng))
        stream += send;
    return stream;
}

void InProcess(const QByteArray& stream, const QString& storage)
{
    std::vector<double> rates;
    for (int run = 0; run < 5; ++run) {
        ModuleEngine engine(storage);
        const double start = CpuSeconds();
        // In the pieces a pseudo-terminal read hands over.
        for (qsizetype at = 0; at < stream.size(); at += 4096)
            engine.Feed(
                QByteArrayView(stream).sliced(at, std::min<qsizetype>(4096, stream.size() - at)));
        const double cpu = CpuSeconds() - start;
        rates.push_back(double(engine.StatementCount()) / cpu);
        if (engine.UnknownCount() != 0)
            std::printf("  unknown statements: %lld (should be 0)\n", engine.UnknownCount());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("in-process, Demo 1 (10,003 statements), 5 runs: median %.0f, best %.0f statements "
                "per CPU second (target %.0f: %s)\n",
                rates[2], rates[4], kTargetPerSecond,
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

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    std::printf("bench_module (%s build)\n", ORVEXA_BUILD_TYPE);
    QTemporaryDir storage;
    CreateSamplePictures(storage.path());
    const QByteArray stream = Demo1Stream();
    std::printf("Demo 1 stream: %lld bytes\n", static_cast<long long>(stream.size()));
    InProcess(stream, storage.path());
    ThroughTheLine(stream, storage.path());
    return 0;
}
