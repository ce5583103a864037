// Figures for what a run leaves behind: the HTML report of a 10,000-step run (a 500-step script
// of send/expect pairs, 20 rounds over two ports, with its transcript, a failed screen step's
// three pictures and a baseline of the same shape) is to be written in under a second and to stay
// under 5 MB; and the same for 10,000 different steps run once, and for a real run of orvexa-run on
// its virtual module (a 501-step script of sends, keys and expects, 20 rounds), read back from its
// results file. Also the results file's write and read, and the comparison with the baseline.

#include "results/Baseline.h"
#include "results/HtmlReport.h"
#include "results/ResultsFile.h"
#include "support/RandomSource.h"

#include "bench/ProcessFigures.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr double kMostReportSeconds = 1.0;
constexpr double kMostReportMegabytes = 5.0;

// `pairs` send/expect pairs, run `rounds` times over two ports; latencies about `ms`.
RunResults Run(int pairs, int rounds, double ms, RandomSource& rng, const QString& pictures)
{
    RunResults results;
    results.started = QDateTime::currentDateTimeUtc();
    ScriptInfo script{QStringLiteral("bench/keys.ots"), ScriptDigest("bench"), {}};
    for (int i = 0; i < pairs; ++i) {
        script.steps.push_back({2 * i + 1, QStringLiteral("send"),
                                QStringLiteral("send Line %1,10,200,200;").arg(i % 800)});
        script.steps.push_back(
            {2 * i + 2, QStringLiteral("expect"),
             QStringLiteral("expect $on_key_press (ascii code=&H41) within 500")});
    }
    script.steps.push_back(
        {2 * pairs + 1, QStringLiteral("screen"), QStringLiteral("screen ref.png")});
    results.scripts.push_back(script);

    double now = 0;
    for (int round = 0; round < rounds; ++round) {
        ScriptRun run{round % 2 ? QStringLiteral("COM8") : QStringLiteral("COM7"),
                      script.path,
                      round / 2 + 1,
                      now,
                      0,
                      {},
                      {}};
        for (const StepInfo& step : script.steps) {
            StepRun result{step.line, StepStatus::Passed, now, now, -1, {}, {}, {}};
            run.transcript.push_back({now, TranscriptEntry::Kind::StepStart, step.line, {}});
            if (step.kind == u"send") {
                run.transcript.push_back(
                    {now + 0.1, TranscriptEntry::Kind::Sent, 0, step.source.mid(5).toUtf8()});
                now += 1;
            } else if (step.kind == u"expect") {
                result.latencyMs = ms + rng.Draw() % 1000 / 1000.0;
                now += result.latencyMs;
                run.transcript.push_back(
                    {now, TranscriptEntry::Kind::Report, 0, "$on_key_press (ascii code=&H41)"});
            } else {
                result.status = StepStatus::Failed;
                result.reason = QStringLiteral("4800 pixels differ");
                result.pictures = {pictures + QStringLiteral("/ref.png"),
                                   pictures + QStringLiteral("/actual.png"),
                                   pictures + QStringLiteral("/difference.png")};
                now += 40;
            }
            result.endMs = now;
            run.steps.push_back(result);
            run.transcript.push_back({now, TranscriptEntry::Kind::StepEnd, step.line, {}});
        }
        run.endMs = now;
        results.runs.push_back(std::move(run));
    }
    return results;
}

void Report(const char* what, const RunResults& run, const RunResults& baseline)
{
    int steps = 0;
    for (const ScriptRun& r : run.runs)
        steps += static_cast<int>(r.steps.size());
    QElapsedTimer clock;
    const double cpu = CpuSeconds();
    clock.start();
    const QByteArray html = ReportHtml(run, &baseline);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double megabytes = html.size() / 1e6;
    std::printf("report, %s (%d step runs, with baseline): %.3f s (CPU %.3f s; target under "
                "%.1f s: %s), %.2f MB (target under %.1f MB: %s)\n",
                what, steps, seconds, CpuSeconds() - cpu, kMostReportSeconds,
                seconds < kMostReportSeconds ? "met" : "MISSED", megabytes, kMostReportMegabytes,
                megabytes < kMostReportMegabytes ? "met" : "MISSED");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    std::printf("bench_report (%s build)\n", ORVEXA_BUILD_TYPE);

    QTemporaryDir dir;
    for (const auto& [name, x] : {std::pair{"ref", 300}, {"actual", 340}, {"difference", 320}}) {
        QImage screen(800, 480, QImage::Format_RGB32);
        screen.fill(Qt::white);
        QPainter(&screen).fillRect(x, 200, 100, 60, Qt::black);
        screen.save(dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
    }
    SeededRandom rng(7);
    const RunResults rounds = Run(250, 20, 5, rng, dir.path());
    const RunResults roundsBefore = Run(250, 20, 3, rng, dir.path());
    Report("a 500-step script, 20 rounds on 2 ports", rounds, roundsBefore);
    const RunResults once = Run(5000, 1, 5, rng, dir.path());
    const RunResults onceBefore = Run(5000, 1, 3, rng, dir.path());
    Report("a 10,000-step script, once", once, onceBefore);

    QElapsedTimer clock;
    clock.start();
    const BaselineComparison comparison = CompareWithBaseline(roundsBefore, rounds);
    std::printf("comparison with the baseline, 250 expects of 20 runs each: %.3f s, %d slower\n",
                clock.nsecsElapsed() / 1e9, comparison.Count(StepComparison::Latency::Slower));

    const QString path = dir.filePath(QStringLiteral("results.json"));
    QString error;
    clock.start();
    const bool saved = SaveResults(path, rounds, error);
    const double write = clock.nsecsElapsed() / 1e9;
    RunResults read;
    clock.start();
    const bool loaded = LoadResults(path, read, error);
    const double readSeconds = clock.nsecsElapsed() / 1e9;
    std::printf("results file of the 20 rounds: %.2f MB, written in %.3f s, read back in %.3f s "
                "(%s), resident %ld KiB\n",
                QFileInfo(path).size() / 1e6, write, readSeconds,
                saved && loaded && read == rounds ? "the same run" : qPrintable(error),
                ResidentKiB());
    if (!saved || !loaded)
        return 1;

    // A real run: what the runner puts in the model, the transcript above all, may differ from
    // the made-up runs.
    const QString script = dir.filePath(QStringLiteral("keys.ots"));
    {
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < 167; ++i)
            file.write("send Line 1,1,2,2;\nkey 0x41\nexpect $on_key_press (ascii code=&H41)\n");
    }
    const QString realPath = dir.filePath(QStringLiteral("real.json"));
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    run.setProcessEnvironment(environment);
    clock.start();
    run.start(QStringLiteral(ORVEXA_RUN_EXE),
              {QStringLiteral("--speed"), QStringLiteral("230400"), QStringLiteral("--repeat"),
               QStringLiteral("20"), QStringLiteral("--results"), realPath, script});
    if (!run.waitForFinished(-1) || run.exitCode() != 0) {
        std::printf("orvexa-run failed: %s\n", run.readAllStandardError().constData());
        return 1;
    }
    const double runSeconds = clock.nsecsElapsed() / 1e9;
    RunResults real;
    if (!LoadResults(realPath, real, error)) {
        std::printf("%s\n", qPrintable(error));
        return 1;
    }
    std::printf("orvexa-run, 501 steps 20 times on the virtual module: %.1f s, results file "
                "%.2f MB\n",
                runSeconds, QFileInfo(realPath).size() / 1e6);
    Report("a real run of a 501-step script, 20 rounds", real, real);
    return 0;
}
