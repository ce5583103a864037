// Figures for the console's receive path end to end. A pseudo-terminal stands in for the module: a
// thread writes event reports to its master end, and the real console window, with the port opened
// the way a user opens it, reads them through its serial control, decodes them and shows them.
// For a feed at 230400 baud and a 1 MB burst, each also with 10 MB already in the view, it prints
// whether every byte was shown, the longest pass of the event loop, paints of the view against
// reads, the CPU time used, and how long the last byte took to reach the screen.
// Last, CPU per MB of the same streams with Record Script off and on.

#include "app/ConsoleDlg.h"
#include "bench/ConsoleDriving.h"
#include "bench/EventLoopTiming.h"
#include "bench/ProcessFigures.h"
#include "resources/ControlIds.h"
#include "support/RandomSource.h"
#include "support/ui/ControlUtil.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/ReportDisplay.h"
#include "tests/common/ReportStream.h"
#include "tests/common/TempConfigHome.h"
#include "trace/TraceClient.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QMetaEnum>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stop_token>
#include <thread>
#include <tuple>

namespace {

constexpr int kPortNumber = 200;
constexpr int kSpeedIndex = 9;                 // "230400"
constexpr double kLineBytesPerSecond = 23'040; // 230400 baud at 10 bits a byte
constexpr qsizetype kPacedBytes = 5 * 23'040;
constexpr qsizetype kBurstBytes = 1'000'000;
constexpr qsizetype kPreloadCharacters = 10'000'000;
constexpr QByteArrayView kMakeTestEnvironment = "MakeTestEnvironment;";
// Reports as the module sends them: mostly binary, some in the text form.
constexpr int kTextPercent = 25;

// A stream is over once nothing has been read for this long after its last write.
constexpr qint64 kQuietNs = 300'000'000;
// A console that stops reading is given this long after the last write before the phase is
// abandoned.
constexpr qint64 kGiveUpNs = 15'000'000'000;
// Paints a second that a frame timer of 16 ms can give, with its coarse timer's slack.
constexpr double kDisplayRate = 1000.0 / 16 * 1.1;

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Ms(qint64 ns)
{
    return static_cast<double>(ns) / 1e6;
}

// What the writer thread did, read by the GUI thread while it runs.
struct WriteLog
{
    std::atomic<bool> finished{false};
    std::atomic<qint64> lastWriteNs{0};
    std::atomic<qsizetype> bytes{0};
    std::atomic<int> writes{0};
    std::atomic<bool> failed{false}; // the terminal hung up or stayed full for 10 s
};

bool WriteChunk(PseudoTerminal& module, QByteArrayView bytes, WriteLog& log)
{
    const qint64 before = module.WritesTaken();
    const bool written = module.Write(bytes);
    log.lastWriteNs = NowNs();
    log.writes += static_cast<int>(module.WritesTaken() - before);
    if (!written) {
        log.failed = true;
        return false;
    }
    log.bytes += bytes.size();
    return true;
}

// At the line's rate, in chunks at random intervals of 1 to 16 ms, as a USB adapter hands over
// what it has gathered.
void WritePaced(PseudoTerminal& module, QByteArrayView stream, WriteLog& log,
                const std::stop_token& stop)
{
    SeededRandom rng(5);
    const qint64 start = NowNs();
    qsizetype sent = 0;
    while (sent < stream.size() && !stop.stop_requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + rng.Draw() % 16));
        const auto due =
            std::min(stream.size(), static_cast<qsizetype>(static_cast<double>(NowNs() - start) *
                                                           kLineBytesPerSecond / 1e9));
        if (due <= sent)
            continue;
        if (!WriteChunk(module, stream.sliced(sent, due - sent), log))
            break;
        sent = due;
    }
    log.finished = true;
}

// One write call after another as the terminal takes them; a console that stops reading fails
// it after 10 s.
void WriteBurst(PseudoTerminal& module, QByteArrayView stream, WriteLog& log)
{
    WriteChunk(module, stream, log);
    log.finished = true;
}

// Counts what the console does with the bytes: each read (one communication event) and each
// paint of the receive view, and when the view was first painted after the latest read.
class ReceiveWatch : public QObject
{
public:
    ReceiveWatch(CConsoleDlg& console, QWidget& viewport)
    {
        viewport.installEventFilter(this);
        // Connected after the console's own handler, so this runs once a read has been decoded
        // and appended.
        connect(&console.Comm(), &CMSComm::CommEvent, this, &ReceiveWatch::OnRead);
    }

    void Reset()
    {
        reads = 0;
        paints = 0;
        lastReadNs = -1;
        paintAfterReadNs = -1;
    }

    int reads = 0;
    int paints = 0;
    qint64 lastReadNs = -1;
    // Start of the first paint after the latest read, the moment its bytes reach the screen.
    qint64 paintAfterReadNs = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (lastReadNs >= 0 && paintAfterReadNs < 0)
                paintAfterReadNs = NowNs();
        }
        return false;
    }

private:
    void OnRead()
    {
        ++reads;
        lastReadNs = NowNs();
        paintAfterReadNs = -1;
    }
};

enum class Pace
{
    LineRate,
    Burst
};

struct PhaseFigures
{
    qsizetype sent = 0;
    int writes = 0;
    bool writeFailed = false;
    bool gaveUp = false;
    qint64 longestEventNs = 0;
    QString longestEvent; // its type and receiver
    int eventsOverBudget = 0;
    qint64 longestGapNs = 0;
    int gapsOverBudget = 0;
    int reads = 0;
    int paints = 0;
    double processCpu = 0;
    double guiCpu = 0;
    qint64 activeNs = 0; // from the start to the paint that showed the last byte
    qint64 readAfterWriteNs = -1;
    qint64 shownAfterWriteNs = -1;
};

PhaseFigures RunPhase(TimedApplication& app, ReceiveWatch& watch, PseudoTerminal& module,
                      QByteArrayView stream, Pace pace)
{
    WriteLog log;
    TickGapWatch ticks;
    watch.Reset();
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double guiCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const qint64 start = NowNs();
    app.ResetFigures();
    ticks.Start();

    bool gaveUp = false;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!log.finished)
            return;
        const qint64 now = NowNs();
        const qint64 lastWrite = std::max(log.lastWriteNs.load(), start);
        const bool quiet = now - std::max(lastWrite, watch.lastReadNs) >= kQuietNs;
        if (quiet && (watch.paintAfterReadNs >= 0 || log.failed)) {
            loop.quit();
        } else if (now - lastWrite >= kGiveUpNs) {
            gaveUp = true;
            loop.quit();
        }
    });
    check.start(20);
    {
        std::jthread writer([&](std::stop_token stop) {
            if (pace == Pace::LineRate)
                WritePaced(module, stream, log, stop);
            else
                WriteBurst(module, stream, log);
        });
        loop.exec();
    } // a writer still waiting on a console that stopped reading is stopped and joined here
    ticks.Stop();

    PhaseFigures f;
    f.longestEventNs = app.longestEventNs;
    f.longestEvent = QStringLiteral("%1 to a %2")
                         .arg(QString::fromLatin1(QMetaEnum::fromType<QEvent::Type>().valueToKey(
                                  app.longestEventType)),
                              QString::fromLatin1(app.longestEventReceiver));
    f.eventsOverBudget = app.eventsOverBudget;
    f.longestGapNs = ticks.longestGapNs;
    f.gapsOverBudget = ticks.gapsOverBudget;
    f.processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu;
    f.guiCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - guiCpu;
    f.sent = log.bytes;
    f.writes = log.writes;
    f.writeFailed = log.failed;
    f.gaveUp = gaveUp;
    f.reads = watch.reads;
    f.paints = watch.paints;
    const qint64 lastWrite = log.lastWriteNs;
    if (watch.lastReadNs >= 0 && lastWrite > 0)
        f.readAfterWriteNs = watch.lastReadNs - lastWrite;
    if (watch.paintAfterReadNs >= 0 && lastWrite > 0)
        f.shownAfterWriteNs = watch.paintAfterReadNs - lastWrite;
    f.activeNs = (watch.paintAfterReadNs >= 0 ? watch.paintAfterReadNs : NowNs()) - start;
    return f;
}

// The bytes the view shows as hex pairs, in order. Every line is the hex of a report's bytes,
// then " : " and the report's meaning; the last line may be a report still arriving.
struct ShownBytes
{
    QByteArray bytes;
    qsizetype malformed = 0; // tokens in the hex part that are not one byte's two hex digits
};

ShownBytes ParseShown(const QString& text)
{
    ShownBytes shown;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        const qsizetype meaning = line.indexOf(u" : ");
        const QStringView hex = meaning >= 0 ? line.first(meaning) : line;
        for (QStringView token : hex.tokenize(u' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint value = token.toUInt(&ok, 16);
            if (token.size() == 2 && ok)
                shown.bytes.append(static_cast<char>(value));
            else
                ++shown.malformed;
        }
    }
    return shown;
}

struct ShownCheck
{
    // Of this phase's bytes, how many stand at the end of the view, in order.
    qsizetype phaseShown = 0;
    bool complete = false;
    bool viewDroppedOldest = false;
    qsizetype malformed = 0;
};

// `given` is every byte the view has been given, in order, this phase's last.
ShownCheck CheckShown(const ReceiveView& view, QByteArrayView given, qsizetype phaseBytes)
{
    const ShownBytes shown = ParseShown(view.toPlainText());
    qsizetype common = 0;
    const qsizetype most = std::min(shown.bytes.size(), given.size());
    while (common < most &&
           shown.bytes[shown.bytes.size() - 1 - common] == given[given.size() - 1 - common])
        ++common;

    ShownCheck check;
    check.malformed = shown.malformed;
    check.phaseShown = std::min(common, phaseBytes);
    // The view keeps the newest 16 MiB and drops whole lines before that.
    check.viewDroppedOldest =
        shown.bytes.size() < given.size() && view.textSize() > ReceiveView::kKeepCharacters - 4096;
    check.complete = shown.malformed == 0 && common == shown.bytes.size() &&
                     (shown.bytes.size() == given.size() || check.viewDroppedOldest);
    return check;
}

// Text from earlier reports, appended the way the console appends it, as a long session leaves
// the view. Returns the report bytes it stands for.
QByteArray Preload(ReceiveView& view)
{
    SeededRandom rng(99);
    ReportDisplay decoder(rng);
    QByteArray given;
    std::vector<ColoredText> pieces;
    while (view.textSize() < kPreloadCharacters) {
        const QByteArray reports = ReportStream(rng, 4096, kTextPercent);
        pieces.clear();
        decoder.Feed(reports, pieces);
        for (const ColoredText& piece : pieces)
            CControlUtil::AppendColoredText(&view, piece.text, piece.colour, false);
        given += reports;
    }
    return given;
}

const char* Verdict(bool met)
{
    return met ? "ok" : "MISSED";
}

// Prints the phase and says whether it met the targets.
bool Report(const char* title, const PhaseFigures& f, const ShownCheck& shown)
{
    std::printf("\n%s\n", title);
    if (f.writeFailed)
        std::printf(
            "  writing to the pseudo-terminal failed: it hung up or stayed full for 10 s\n");
    if (f.gaveUp)
        std::printf("  the console stopped showing bytes; gave up %.0f s after the last write\n",
                    static_cast<double>(kGiveUpNs) / 1e9);

    const bool allShown = shown.complete && shown.phaseShown == f.sent && !f.writeFailed;
    std::printf("  bytes sent / shown         %lld in %d writes / %lld",
                static_cast<long long>(f.sent), f.writes, static_cast<long long>(shown.phaseShown));
    std::printf(" (one hex pair each, in order%s)  %s\n",
                shown.viewDroppedOldest ? "; the view dropped its oldest lines beyond 16 MiB" : "",
                Verdict(allShown));
    if (shown.malformed > 0)
        std::printf("  %lld tokens in the view are not a byte's two hex digits\n",
                    static_cast<long long>(shown.malformed));

    const bool inBudget = f.eventsOverBudget == 0 && f.gapsOverBudget == 0;
    std::printf("  longest event              %7.2f ms (%s), %d over 16 ms  %s\n",
                Ms(f.longestEventNs), qPrintable(f.longestEvent), f.eventsOverBudget,
                Verdict(inBudget));
    std::printf("  longest gap of 1 ms ticks  %7.2f ms, %d over 16 ms beyond the tick\n",
                Ms(f.longestGapNs), f.gapsOverBudget);

    const double active = std::max(static_cast<double>(f.activeNs) / 1e9, 1e-3);
    const double paintRate = f.paints / active;
    const bool displayRate = paintRate <= kDisplayRate;
    std::printf("  reads / paints of the view %d (%.0f bytes a read) / %d (%.0f a second)  %s\n",
                f.reads, f.reads > 0 ? static_cast<double>(f.sent) / f.reads : 0.0, f.paints,
                paintRate, displayRate ? "ok, at display rate" : "MORE than the display rate");
    std::printf("  CPU                        %.2f s process, %.2f s GUI thread, over %.2f s\n",
                f.processCpu, f.guiCpu, active);
    if (f.readAfterWriteNs >= 0 || f.shownAfterWriteNs >= 0)
        std::printf("  last byte                  read %.2f ms, shown %.2f ms after its write\n",
                    Ms(f.readAfterWriteNs), Ms(f.shownAfterWriteNs));
    return allShown && inBudget && displayRate;
}

struct Phase
{
    const char* title;
    Pace pace;
    qsizetype bytes;
    bool fillViewFirst; // with the history of a long session in the view
};

int Fail(const char* what)
{
    std::fprintf(stderr, "bench_console_latency: %s\n", what);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The console reads its settings at start and writes them when it closes: here, not in the
    // user's own folder. The machine's own serial devices are left alone: the console finds none.
    TempConfigHome configHome;
    if (!configHome.isValid())
        return Fail("cannot make a temporary config folder");
    TimedApplication app(argc, argv);
    const qint64 runStart = NowNs();

    const char* buildType = ORVEXA_BUILD_TYPE;
    std::printf("Console receive latency, %s build", *buildType ? buildType : "untyped");
#if defined(__SANITIZE_ADDRESS__)
    std::printf(" (with sanitizers: the figures are pessimistic)\n");
#elif defined(__OPTIMIZE__)
    std::printf(" (optimised)\n");
#else
    std::printf(" (unoptimised: the figures are pessimistic; configure with "
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo or Release)\n");
#endif

    PseudoTerminal module;
    if (!module.isOpen())
        return Fail("cannot make a pseudo-terminal");
    if (!module.PublishAs(kPortNumber))
        return Fail("cannot publish the pseudo-terminal in the port folder");
    // Tracing stays off whatever this machine holds.
    ResetTraceMarker(configHome.filePath(QStringLiteral("no-marker")));

    SeededRandom rng(20240607);
    auto console = std::make_unique<CConsoleDlg>(rng);
    console->show();
    RunEventsFor(100);
    if (!OpenPort(*console, kPortNumber, kSpeedIndex))
        return Fail("the console did not open the pseudo-terminal's port");
    const QByteArray greeting = module.ReadExactly(kMakeTestEnvironment.size(), 5000);
    if (greeting != kMakeTestEnvironment)
        return Fail("the console did not send MakeTestEnvironment; after opening");
    std::printf(
        "Port COM%d -> %s at %s baud, opened through the console's own controls\n", kPortNumber,
        qPrintable(module.devicePath()),
        qPrintable(qobject_cast<QComboBox*>(console->Item(ids::kSpeedList))->currentText()));

    auto* view = qobject_cast<ReceiveView*>(console->Item(ids::kReceive));
    ReceiveWatch watch(*console, *view->viewport());

    const Phase phases[] = {
        {"Phase 1: 230400 baud's rate (23,040 B/s) in chunks every 1-16 ms, 5 s", Pace::LineRate,
         kPacedBytes, false},
        {"Phase 2: a 1 MB burst, as fast as the pseudo-terminal takes it", Pace::Burst, kBurstBytes,
         false},
        {"Phase 3a: as phase 1, with 10 MB already in the view", Pace::LineRate, kPacedBytes, true},
        {"Phase 3b: as phase 2, with 10 MB in the view", Pace::Burst, kBurstBytes, false},
    };
    SeededRandom streamRng(77);
    QByteArray given; // every byte the view has been given, in order
    bool met = true;
    for (const Phase& phase : phases) {
        if (phase.fillViewFirst) {
            given += Preload(*view);
            RunEventsFor(200); // the preload's own layout and paint stay out of the figures
        }
        const QByteArray stream = ReportStream(streamRng, phase.bytes, kTextPercent);
        const PhaseFigures figures = RunPhase(app, watch, module, stream, phase.pace);
        given += QByteArrayView(stream).first(figures.sent);
        met = Report(phase.title, figures, CheckShown(*view, given, figures.sent)) && met;
    }

    // Recording a script costs the report lines of what is decoded anyway and a write per line;
    // the same streams with Record Script off and on show what that adds.
    std::printf(
        "\nRecord Script overhead, process CPU per MB received (with 10 MB in the view):\n");
    const QString recording = configHome.filePath(QStringLiteral("recording.ots"));
    for (const auto& [name, pace, bytes] :
         {std::tuple{"230400 baud's rate, 5 s", Pace::LineRate, kPacedBytes},
          std::tuple{"1 MB burst", Pace::Burst, kBurstBytes}}) {
        double cpuPerMb[2] = {0, 0};
        for (const bool on : {false, true}) {
            if (on && !console->Scripts().StartRecording(recording))
                return Fail("the recording could not be started");
            const QByteArray stream = ReportStream(streamRng, bytes, kTextPercent);
            const PhaseFigures figures = RunPhase(app, watch, module, stream, pace);
            given += QByteArrayView(stream).first(figures.sent);
            met = CheckShown(*view, given, figures.sent).complete && !figures.gaveUp && met;
            cpuPerMb[on] = figures.processCpu / (static_cast<double>(figures.sent) / 1e6);
            if (on)
                console->Scripts().StopRecording();
        }
        std::printf("  %-28s off %.3f s, on %.3f s CPU per MB (%+.0f%%), script %lld bytes\n", name,
                    cpuPerMb[0], cpuPerMb[1], 100.0 * (cpuPerMb[1] / cpuPerMb[0] - 1.0),
                    static_cast<long long>(QFileInfo(recording).size()));
    }

    console->close();
    console.reset();
    std::printf("\nTargets (every byte shown; no event-loop pass over 16 ms; paints at display "
                "rate) %s. Total run time %.1f s\n",
                met ? "met" : "MISSED", static_cast<double>(NowNs() - runStart) / 1e9);
    return met ? 0 : 1;
}
