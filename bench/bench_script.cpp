// Figures for the script runner: steps per second and CPU per step on a 10,000-step script of
// send/expect pairs against the virtual module unpaced, and the send-to-report latency the runner
// measures at 115200 baud against the line time of the bytes sent. The module answers each
// statement with a key report, as a module that acknowledges would; both run in this process,
// over a real pseudo-terminal.

#include "app/serial/CMSComm.h"
#include "module/SamplePictures.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"
#include "tests/common/TempConfigHome.h"

#include "bench/ProcessFigures.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>

namespace {

constexpr double kTargetStepsPerSecond = 2000;

Script PairScript(const QString& statement, int pairs)
{
    Script script;
    script.path = QStringLiteral("bench.ots");
    for (int i = 0; i < pairs; ++i) {
        ScriptStep send;
        send.kind = ScriptStep::Kind::Send;
        send.line = 2 * i + 1;
        send.text = statement;
        ScriptStep expect;
        expect.kind = ScriptStep::Kind::Expect;
        expect.line = 2 * i + 2;
        expect.pattern = "$on_key_press (ascii code=&H41)";
        expect.ms = 5000;
        script.steps.push_back(send);
        script.steps.push_back(expect);
    }
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
    // Every statement executed is answered with one report.
    qint64 answered = 0;
    ModuleEngine& engine = module.Engine();
    QObject::connect(&engine, &ModuleEngine::CountsChanged, &engine, [&] {
        while (answered < engine.StatementCount()) {
            ++answered;
            engine.KeyPress('A');
        }
    });

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
    for (const StepResult& result : runner.Results())
        if (result.latencyMs >= 0)
            run.latencies.push_back(result.latencyMs);
    std::sort(run.latencies.begin(), run.latencies.end());
    return run;
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
    return overhead.passed ? 0 : 1;
}
