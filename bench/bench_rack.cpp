// Figures for a rack run: eight virtual modules at once in one process against one alone, as
// orvexa-run runs several ports, with the same script of send/expect pairs on each port. Each
// module runs in this process on its own pseudo-terminal and answers every statement with a key
// report: once at the line rate of 115200 baud, as a module on a line takes bytes (its pauses,
// a few milliseconds each, set the p95 of both runs alike), and once unpaced, where what is
// left is the runners' own work. Prints the CPU per step (the runners, the decoders
// and the modules together) and each port's p95 send-to-report latency, against the targets:
// CPU per step within 1.3 times, and every port's p95 within 0.5 ms, of the one-port run.

#include "bench/AnswerEveryStatement.h"
#include "bench/ProcessFigures.h"
#include "script/BatchRun.h"
#include "script/PortTarget.h"
#include "script/VirtualModule.h"
#include "serial/CMSComm.h"
#include "tests/common/TempConfigHome.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kPairs = 1000; // per port
constexpr int kRepeats = 3;  // runs of each size; the median run is shown

class Latencies : public RunSink
{
public:
    std::map<const PortRun*, std::vector<double>> byPort;

    void StepFinished(const PortRun& port, const SuiteRun&, int, const StepResult& result) override
    {
        if (result.latencyMs >= 0)
            byPort[&port].push_back(result.latencyMs);
    }
};

double Percentile(std::vector<double> values, int percent)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * std::size_t(percent) / 100)];
}

struct Figures
{
    bool passed = false;
    double seconds = 0;
    double cpuUsPerStep = 0;
    std::vector<double> p95; // by port, in the order added
    double median = 0;       // of every port's latencies together
};

Figures RunRack(int ports, bool paced)
{
    Script script =
        ParseScript(QByteArray("send Dotsize 1;\nexpect $on_key_press (ascii code=&H41) within "
                               "5000\n")
                        .repeated(kPairs));
    script.path = QStringLiteral("rack.ots");
    std::vector<Script> scripts;
    scripts.push_back(std::move(script));

    QTemporaryDir storage;
    std::vector<std::unique_ptr<VirtualModule>> modules;
    std::vector<std::unique_ptr<CMSComm>> comms;
    BatchRun run(std::move(scripts), RunSettings{});
    Figures figures;
    for (int i = 0; i < ports; ++i) {
        modules.push_back(std::make_unique<VirtualModule>(storage.path()));
        VirtualModule& module = *modules.back();
        if (!module.Open().isEmpty())
            return figures;
        module.SetPaced(paced);
        AnswerEveryStatement(module.Engine());
        comms.push_back(std::make_unique<CMSComm>());
        if (!OpenPortTarget(*comms.back(), {0, module.DevicePath()}, QStringLiteral("115200,n,8,1"))
                 .isEmpty())
            return figures;
        run.AddPort(QStringLiteral("M%1").arg(i + 1), *comms.back(), &module,
                    static_cast<std::uint32_t>(i + 1));
    }
    Latencies latencies;
    run.AddSink(latencies);
    QEventLoop loop;
    QObject::connect(&run, &BatchRun::Finished, &loop, [&](int exit) {
        figures.passed = exit == kExitPassed;
        loop.quit();
    });
    QElapsedTimer wall;
    const double cpu = CpuSeconds();
    wall.start();
    run.Begin();
    loop.exec();
    figures.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    figures.cpuUsPerStep = (CpuSeconds() - cpu) / static_cast<double>(run.Counts().ran) * 1e6;
    std::vector<double> all;
    for (const std::unique_ptr<PortRun>& port : run.Ports()) {
        const std::vector<double>& own = latencies.byPort[port.get()];
        figures.p95.push_back(Percentile(own, 95));
        all.insert(all.end(), own.begin(), own.end());
    }
    figures.median = Percentile(all, 50);
    return figures;
}

// Of several runs of one size, the one of median CPU per step.
Figures Median(std::vector<Figures> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const Figures& a, const Figures& b) { return a.cpuUsPerStep < b.cpuUsPerStep; });
    return runs[runs.size() / 2];
}

// Prints one comparison; true when every run passed.
bool Compare(bool paced)
{
    std::vector<Figures> ones, eights;
    // Alternated, so that a spell of load on the machine falls on both.
    for (int i = 0; i < kRepeats; ++i) {
        ones.push_back(RunRack(1, paced));
        eights.push_back(RunRack(8, paced));
    }
    const Figures one = Median(ones);
    const Figures eight = Median(eights);
    std::printf("%s:\n", paced ? "paced at 115200 baud" : "unpaced");
    std::printf("  1 port:  %s in %.2f s, CPU %.1f us/step, latency median %.3f ms, p95 %.3f ms\n",
                one.passed ? "passed" : "FAILED", one.seconds, one.cpuUsPerStep, one.median,
                one.p95.empty() ? 0.0 : one.p95[0]);
    std::printf("  8 ports: %s in %.2f s, CPU %.1f us/step, latency median %.3f ms, p95 by port:",
                eight.passed ? "passed" : "FAILED", eight.seconds, eight.cpuUsPerStep,
                eight.median);
    double worst = 0;
    for (const double p95 : eight.p95) {
        std::printf(" %.3f", p95);
        worst = std::max(worst, p95);
    }
    std::printf(" ms\n");
    const double ratio = eight.cpuUsPerStep / one.cpuUsPerStep;
    const double added = worst - (one.p95.empty() ? 0.0 : one.p95[0]);
    std::printf("  CPU per step, 8 ports to 1: %.2fx (target 1.3x: %s); worst p95 added: %.3f ms "
                "(target 0.5 ms: %s)\n",
                ratio, ratio <= 1.3 ? "met" : "MISSED", added, added <= 0.5 ? "met" : "MISSED");
    const auto passed = [](const std::vector<Figures>& runs) {
        return std::all_of(runs.begin(), runs.end(), [](const Figures& f) { return f.passed; });
    };
    return passed(ones) && passed(eights);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    TempConfigHome home;
    std::printf("bench_rack (%s build): %d send/expect pairs a port, median of %d runs\n",
                ORVEXA_BUILD_TYPE, kPairs, kRepeats);
    const bool paced = Compare(true);
    const bool unpaced = Compare(false);
    return paced && unpaced ? 0 : 1;
}
