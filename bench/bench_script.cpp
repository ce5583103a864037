// Figures for the script runner: steps per second and CPU per step on a 10,000-step script of
// send/expect pairs against the virtual module unpaced, and the send-to-report latency the runner
// measures at 115200 baud against the line time of the bytes sent. The module answers each
// statement with a key report, as a module that acknowledges would; both run in this process,
// over a real pseudo-terminal.
//
// Then orvexa-run itself, as a child process (the one built beside this program, or the one named
// by $ORVEXA_RUN, so that another build can be measured alike): its CPU time while an expect-none
// waits under a flood of key reports, against a wait of the same length, and its peak memory for
// a script of 1,000,000 "wait 0" steps and for --repeat 1000000 of a small script.

#include "module/SamplePictures.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"
#include "serial/CMSComm.h"
#include "tests/common/TempConfigHome.h"

#include "bench/AnswerEveryStatement.h"
#include "bench/ProcessFigures.h"
#include "module/EventEncoder.h"
#include "tests/common/PseudoTerminal.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kTargetStepsPerSecond = 2000;

Script PairScript(const QString& statement, int pairs)
{
    const QByteArray pair =
        "send " + statement.toUtf8() + "\nexpect $on_key_press (ascii code=&H41) within 5000\n";
    Script script = ParseScript(pair.repeated(pairs));
    script.path = QStringLiteral("bench.ots");
    return script;
}

struct Run
{
    bool passed = false;
    double seconds = 0;
    double cpu = 0;
    std::vector<double> latencies;
};

Run RunScript(const Script& script, bool paced, int speed)
{
    QTemporaryDir storage;
    VirtualModule module(storage.path());
    Run run;
    if (!module.Open().isEmpty())
        return run;
    module.SetPaced(paced);
    AnswerEveryStatement(module.Engine());

    CMSComm comm;
    comm.SetDevicePath(module.DevicePath());
    comm.SetSettings(QStringLiteral("%1,n,8,1").arg(speed));
    comm.SetRThreshold(1);
    comm.SetInputMode(1);
    comm.SetPortOpen(true);
    SeededRandom rng(7);
    ScriptRunner runner(comm, rng, &module);
    runner.ReadPort();
    QEventLoop loop;
    QObject::connect(&runner, &ScriptRunner::StepFinished, &loop,
                     [&](int, const StepResult& result) {
                         if (result.latencyMs >= 0)
                             run.latencies.push_back(result.latencyMs);
                     });
    QObject::connect(&runner, &ScriptRunner::Finished, &loop, [&](ScriptRunner::Outcome outcome) {
        run.passed = outcome == ScriptRunner::Outcome::Passed;
        loop.quit();
    });
    QElapsedTimer wall;
    const double cpu = CpuSeconds();
    wall.start();
    runner.Start(script);
    loop.exec();
    run.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    run.cpu = CpuSeconds() - cpu;
    std::sort(run.latencies.begin(), run.latencies.end());
    return run;
}

struct Child
{
    int exit = -1;
    double cpu = 0;     // seconds, user and system
    long peakKiB = 0;   // the largest resident set
    long firstKiB = -1; // the largest resident set up to the first line of output
};

// Runs orvexa-run with `arguments`, output read and dropped. `meanwhile` is called every
// `everyUs` microseconds while it runs, with the microseconds since the start; `firstLine` as
// soon as its first line of output is there.
Child RunChild(const QStringList& arguments, const std::function<void(qint64 us)>& meanwhile = {},
               const std::function<void(pid_t pid)>& firstLine = {}, int everyUs = 10000)
{
    const QByteArray program = qEnvironmentVariableIsSet("ORVEXA_RUN") ? qgetenv("ORVEXA_RUN")
                                                                       : QByteArray(ORVEXA_RUN_EXE);
    std::vector<QByteArray> words{program};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int out[2];
    Child child;
    if (::pipe2(out, O_CLOEXEC) != 0)
        return child;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    QElapsedTimer clock;
    clock.start();
    bool seenLine = false;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(out[0], buffer, sizeof buffer)) > 0) {
            if (!seenLine && std::memchr(buffer, '\n', std::size_t(got))) {
                seenLine = true;
                // Read before the child goes on: what it took to get to its first step.
                QFile status(QStringLiteral("/proc/%1/status").arg(pid));
                if (status.open(QIODevice::ReadOnly))
                    for (const QByteArray& line : status.readAll().split('\n'))
                        if (line.startsWith("VmHWM:"))
                            child.firstKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
                if (firstLine)
                    firstLine(pid);
            }
        }
        if (meanwhile)
            meanwhile(clock.nsecsElapsed() / 1000);
        QThread::usleep(static_cast<unsigned long>(everyUs));
    }
    ::close(out[0]);
    child.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    child.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    child.peakKiB = usage.ru_maxrss;
    return child;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    return file.fileName();
}

// A module that sends `perSecond` key reports for as long as the step lasts, each on its own as
// a line delivers them, as a keyboard held down on a busy line; orvexa-run's CPU time for the
// whole run.
double FloodedCpu(const QTemporaryDir& dir, const QByteArray& step, int perSecond)
{
    PseudoTerminal module;
    const QByteArray report = EncodeReport(0x85, {false, {0x41}}, ReportForm::Binary);
    qint64 sent = 0;
    const Child child = RunChild(
        {QStringLiteral("--device"), module.devicePath(), QStringLiteral("--speed"),
         QStringLiteral("115200"), WriteFile(dir, QStringLiteral("flood.ots"), step + '\n')},
        [&](qint64 us) {
            for (const qint64 due = us * perSecond / 1'000'000; sent < due; ++sent)
                module.Write(report);
        },
        {}, 1'000'000 / perSecond);
    return child.cpu;
}

double Percentile(const std::vector<double>& sorted, double p)
{
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, std::size_t(p * sorted.size()))];
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    TempConfigHome home;
    std::printf("bench_script (%s build)\n", ORVEXA_BUILD_TYPE);

    const int steps = 10'000;
    const Run overhead =
        RunScript(PairScript(QStringLiteral("Dotsize 1;"), steps / 2), false, 115200);
    const double perSecond = steps / overhead.seconds;
    std::printf("runner overhead: %d steps (send/expect pairs, unpaced module) %s in %.2f s: "
                "%.0f steps/s (target %.0f: %s), CPU %.1f us/step (runner, decoder and the "
                "in-process module together)\n",
                steps, overhead.passed ? "passed" : "FAILED", overhead.seconds, perSecond,
                kTargetStepsPerSecond, perSecond >= kTargetStepsPerSecond ? "met" : "MISSED",
                overhead.cpu / steps * 1e6);

    for (const QString& statement :
         {QStringLiteral("Dotsize 1;"), QStringLiteral("Line 10,10,200,200;"),
          QStringLiteral("Print '") + QString(100, u'x') + QStringLiteral("',10,10;")}) {
        const Run latency = RunScript(PairScript(statement, 200), true, 115200);
        const double lineMs = statement.size() * 10.0 / 115200 * 1000;
        const double mean =
            latency.latencies.empty()
                ? 0
                : std::accumulate(latency.latencies.begin(), latency.latencies.end(), 0.0) /
                      double(latency.latencies.size());
        std::printf("latency at 115200 baud, %lld-byte statement (line time %.2f ms), 200 "
                    "pairs %s: min %.2f, median %.2f, mean %.2f, p95 %.2f, max %.2f ms\n",
                    qint64(statement.size()), lineMs, latency.passed ? "passed" : "FAILED",
                    Percentile(latency.latencies, 0), Percentile(latency.latencies, 0.5), mean,
                    Percentile(latency.latencies, 0.95),
                    latency.latencies.empty() ? 0 : latency.latencies.back());
    }

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    std::printf("orvexa-run: %s\n", qEnvironmentVariableIsSet("ORVEXA_RUN")
                                        ? qgetenv("ORVEXA_RUN").constData()
                                        : ORVEXA_RUN_EXE);

    constexpr int kFloodPerSecond = 1440, kFloodMs = 60000;
    const double waitCpu = FloodedCpu(dir, "wait " + QByteArray::number(kFloodMs), kFloodPerSecond);
    const double expectCpu = FloodedCpu(
        dir, "expect-none $on_nothing for " + QByteArray::number(kFloodMs), kFloodPerSecond);
    std::printf("%d key reports/s for %d s: CPU %.2f s under an expect-none, %.2f s under a wait "
                "(both read and decode each report; the expect-none need compare each with its "
                "pattern only once)\n",
                kFloodPerSecond, kFloodMs / 1000, expectCpu, waitCpu);

    const QString waits =
        WriteFile(dir, QStringLiteral("waits.ots"), QByteArray("wait 0\n").repeated(1'000'000));
    const Child many = RunChild({QStringLiteral("--virtual"), waits});
    std::printf("1,000,000 \"wait 0\" steps (7 MB): exit %d, peak resident %ld MiB (%ld MiB at the "
                "first step), CPU %.1f s\n",
                many.exit, many.peakKiB >> 10, many.firstKiB >> 10, many.cpu);

    // Stopped at its first step with a signal: the figure is what the run takes before it
    // starts, and what ending it early costs.
    const QString small =
        WriteFile(dir, QStringLiteral("small.ots"), "key 65\nexpect $on_key*\nwait 0\nwait 0\n");
    const Child repeated = RunChild({QStringLiteral("--virtual"), QStringLiteral("--repeat"),
                                     QStringLiteral("1000000"), QStringLiteral("--junit"),
                                     dir.filePath(QStringLiteral("repeat.xml")), small},
                                    {}, [](pid_t pid) { ::kill(pid, SIGINT); });
    std::printf("--repeat 1000000 of a 4-step script, interrupted at its first step: exit %d, "
                "peak resident %ld MiB (%ld MiB at the first step)\n",
                repeated.exit, repeated.peakKiB >> 10, repeated.firstKiB >> 10);
    return overhead.passed ? 0 : 1;
}
