// Figures for the receive path: bytes from the port, decoded and shown in the receive view.
// Prints throughput per CPU second for four kinds of stream (beside the per-byte rich-text way it
// replaces), memory growth over 100 MB received, and the longest event-loop pass while bytes
// arrive at 230400 baud and in a burst. The same with the view's record on: a live log file and
// time stamps, next to off, and the time a Save As of a full view takes.

#include "bench/EventLoopTiming.h"
#include "support/ui/ControlUtil.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/ReportDisplay.h"
#include "tests/common/ReportStream.h"

#include "bench/ProcessFigures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

// At the target rate, a display frame of 16 ms holds this many received bytes; the benchmark
// forces a paint after each such slice, as the real display would refresh.
constexpr qsizetype kBytesPerFrame = 160'000;
constexpr qsizetype kChunk = 4096;
constexpr double kTargetBytesPerSecond = 10'000'000;

QByteArray Stream(char kind, qsizetype size)
{
    SeededRandom rng(static_cast<std::uint32_t>(kind));
    QByteArray bytes;
    if (kind == 'A' || kind == 'B') {
        bytes = ReportStream(rng, size, kind == 'A' ? 0 : 100);
    } else {
        bytes.reserve(size);
        while (bytes.size() < size) {
            if (kind == 'C') {
                // Anything but the start byte: the decoder never leaves its idle state.
                const int b = rng.Draw() % 255;
                bytes.append(static_cast<char>(b >= 2 ? b + 1 : b));
            } else {
                bytes.append(static_cast<char>(rng.Draw() % 256));
            }
        }
    }
    bytes.truncate(size);
    return bytes;
}

// Ten megabytes of text from earlier reports, as a long session leaves them.
const std::vector<ColoredText>& History()
{
    static const std::vector<ColoredText> history = [] {
        SeededRandom rng(99);
        ReportDisplay decoder(rng);
        const QByteArray reports = Stream('A', 4'000'000);
        std::vector<ColoredText> pieces;
        qsizetype shown = 0;
        for (qsizetype at = 0; at < reports.size() && shown < 10'000'000; at += kChunk) {
            // A piece of the same colour grows in place, so count the last one again.
            std::size_t from = pieces.size();
            if (from > 0)
                shown -= pieces[--from].text.size();
            decoder.Feed(QByteArrayView(reports).sliced(at, kChunk), pieces);
            for (std::size_t i = from; i < pieces.size(); ++i)
                shown += pieces[i].text.size();
        }
        return pieces;
    }();
    return history;
}

void Preload(ReceiveView& view)
{
    for (const ColoredText& piece : History())
        CControlUtil::AppendColoredText(&view, piece.text, piece.colour, false);
    QCoreApplication::processEvents();
}

void Paint(QWidget& viewport)
{
    QCoreApplication::processEvents();
    viewport.repaint();
}

// Feeds the stream the way the console does: each read is decoded and its pieces appended.
void FeedView(ReportDisplay& decoder, ReceiveView& view, QByteArrayView bytes)
{
    std::vector<ColoredText> pieces;
    decoder.Feed(bytes, pieces);
    for (const ColoredText& piece : pieces)
        CControlUtil::AppendColoredText(&view, piece.text, piece.colour, false);
    decoder.Recycle(pieces);
}

// What the view keeps besides showing the text.
struct Record
{
    bool log = false;
    bool stamps = false;
};

void StartRecord(ReceiveView& view, const QTemporaryDir& dir, Record record)
{
    if (record.log && !view.StartLog(dir.filePath(QStringLiteral("receive.log")), nullptr))
        std::printf("  (the log file could not be opened)\n");
    view.SetTimeStamps(record.stamps);
}

double ViewBytesPerCpuSecond(const QByteArray& stream, Record record = {})
{
    const QTemporaryDir dir;
    ReceiveView view;
    view.resize(900, 500);
    view.show();
    Preload(view);
    StartRecord(view, dir, record);
    SeededRandom rng(1);
    ReportDisplay decoder(rng);

    const double start = CpuSeconds();
    qsizetype sinceFrame = 0;
    for (qsizetype at = 0; at < stream.size(); at += kChunk) {
        const qsizetype n = std::min(kChunk, stream.size() - at);
        FeedView(decoder, view, QByteArrayView(stream).sliced(at, n));
        sinceFrame += n;
        if (sinceFrame >= kBytesPerFrame) {
            Paint(*view.viewport());
            sinceFrame = 0;
        }
    }
    Paint(*view.viewport());
    view.StopLog(); // the last flush is part of the cost
    return static_cast<double>(stream.size()) / (CpuSeconds() - start);
}

// The way the receive box was filled before: one coloured insert and one scroll per byte.
double NaiveBytesPerCpuSecond(QPlainTextEdit& edit, QByteArrayView sample)
{
    SeededRandom rng(1);
    ReportDisplay decoder(rng);
    QTextCursor cursor(edit.document());
    const double start = CpuSeconds();
    for (char byte : sample) {
        std::vector<ColoredText> pieces;
        decoder.Feed(QByteArrayView(&byte, 1), pieces);
        for (const ColoredText& piece : pieces) {
            QTextCharFormat format;
            format.setForeground(QColor(static_cast<int>(piece.colour & 0xFF),
                                        static_cast<int>((piece.colour >> 8) & 0xFF),
                                        static_cast<int>((piece.colour >> 16) & 0xFF)));
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(QString::fromLatin1(piece.text), format);
            edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
        }
    }
    Paint(*edit.viewport());
    return static_cast<double>(sample.size()) / (CpuSeconds() - start);
}

struct LoopWatch
{
    qint64 longestEventNs = 0;
    qint64 longestTickGapNs = 0;
};

LoopWatch WatchLoop(const std::function<void(QTimer& stop)>& start)
{
    auto* app = static_cast<TimedApplication*>(QCoreApplication::instance());
    LoopWatch watch;
    TickGapWatch ticks;
    ticks.Start();

    QEventLoop loop;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, &loop, &QEventLoop::quit);
    app->ResetFigures();
    start(stop);
    loop.exec();
    ticks.Stop();
    watch.longestEventNs = app->longestEventNs;
    watch.longestTickGapNs = ticks.longestGapNs;
    return watch;
}

LoopWatch AtBaudRate(ReceiveView& view, ReportDisplay& decoder, const QByteArray& stream,
                     int milliseconds)
{
    constexpr double kBytesPerSecond = 23'040;
    SeededRandom rng(5);
    QElapsedTimer sinceStart;
    qsizetype sent = 0;
    QTimer delivery;
    delivery.setSingleShot(true);
    delivery.setTimerType(Qt::PreciseTimer);
    QObject::connect(&delivery, &QTimer::timeout, [&] {
        const auto due = static_cast<qsizetype>(sinceStart.nsecsElapsed() * kBytesPerSecond / 1e9);
        const qsizetype n = std::min(due - sent, stream.size() - sent);
        if (n > 0)
            FeedView(decoder, view, QByteArrayView(stream).sliced(sent, n));
        sent += std::max<qsizetype>(n, 0);
        delivery.start(1 + rng.Draw() % 16);
    });
    return WatchLoop([&](QTimer& stop) {
        sinceStart.start();
        delivery.start(1);
        stop.start(milliseconds);
    });
}

LoopWatch InBurst(ReceiveView& view, ReportDisplay& decoder, const QByteArray& stream)
{
    qsizetype at = 0;
    QTimer next;
    next.setSingleShot(true);
    return WatchLoop([&](QTimer& stop) {
        QObject::connect(&next, &QTimer::timeout, [&] {
            const qsizetype n = std::min(kChunk, stream.size() - at);
            FeedView(decoder, view, QByteArrayView(stream).sliced(at, n));
            at += n;
            if (at < stream.size())
                next.start(0);
            else
                stop.start(50); // the last frame still gets painted
        });
        next.start(0);
    });
}

void PrintLoop(const char* what, const LoopWatch& watch)
{
    const double event = static_cast<double>(watch.longestEventNs) / 1e6;
    const double gap = static_cast<double>(watch.longestTickGapNs) / 1e6;
    std::printf("  %-40s longest event %6.2f ms, longest gap between 1 ms ticks %6.2f ms  %s\n",
                what, event, gap, std::max(event, gap - 1.0) <= 16.0 ? "ok" : "OVER 16 ms");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    QElapsedTimer total;
    total.start();
#ifndef __OPTIMIZE__
    std::printf("Note: an unoptimised build; configure with -DCMAKE_BUILD_TYPE=Release for "
                "figures that mean something.\n\n");
#endif

    {
        const QByteArray block = Stream('A', 1'000'000);
        ReceiveView view;
        view.resize(900, 500);
        view.show();
        SeededRandom rng(3);
        ReportDisplay decoder(rng);
        QCoreApplication::processEvents();
        const long before = ResidentKiB();
        long peak = before;
        qsizetype sinceFrame = 0;
        for (int round = 0; round < 100; ++round) {
            for (qsizetype at = 0; at < block.size(); at += kChunk) {
                const qsizetype n = std::min(kChunk, block.size() - at);
                FeedView(decoder, view, QByteArrayView(block).sliced(at, n));
                sinceFrame += n;
                if (sinceFrame >= kBytesPerFrame) {
                    Paint(*view.viewport());
                    sinceFrame = 0;
                }
            }
            peak = std::max(peak, ResidentKiB());
        }
        const long after = ResidentKiB();
        std::printf("Memory over 100 MB received (binary reports, %lld characters held at the "
                    "end):\n  VmRSS growth %.1f MB at the end, %.1f MB at the peak  %s\n",
                    static_cast<long long>(view.textSize()), (after - before) / 1024.0,
                    (peak - before) / 1024.0, peak - before <= 64 * 1024 ? "ok" : "OVER 64 MB");
    }

    std::printf(
        "\nThroughput, received bytes per CPU second, decoded and shown with 10 MB already\n"
        "in the view, a paint forced every %lld bytes (16 ms at the target rate):\n",
        static_cast<long long>(kBytesPerFrame));

    QPlainTextEdit naiveEdit;
    naiveEdit.setReadOnly(true);
    naiveEdit.resize(900, 500);
    naiveEdit.show();
    const double preloadStart = CpuSeconds();
    {
        QByteArray history;
        for (const ColoredText& piece : History())
            history += piece.text;
        naiveEdit.setPlainText(QString::fromLatin1(history));
    }
    QCoreApplication::processEvents();
    const double naivePreload = CpuSeconds() - preloadStart;

    struct Case
    {
        char kind;
        const char* name;
        qsizetype size;
    };
    const Case cases[] = {
        {'A', "A binary reports back to back", 8'000'000},
        {'B', "B text-form reports back to back", 8'000'000},
        {'C', "C no start byte (one endless line)", 2'000'000},
        {'D', "D random bytes", 8'000'000},
    };
    bool throughputMet = true;
    for (const Case& c : cases) {
        const QByteArray stream = Stream(c.kind, c.size);
        const double view = ViewBytesPerCpuSecond(stream);
        const double naive = NaiveBytesPerCpuSecond(naiveEdit, QByteArrayView(stream).first(2000));
        throughputMet = throughputMet && view >= kTargetBytesPerSecond;
        std::printf("  %-36s %5.1f MB  view %12.0f B/s   per-byte QPlainTextEdit %9.0f B/s"
                    "  (x%.0f)  %s\n",
                    c.name, static_cast<double>(c.size) / 1e6, view, naive, view / naive,
                    view >= kTargetBytesPerSecond ? "ok" : "UNDER 10,000,000");
    }
    std::printf("  (loading the same 10 MB into the QPlainTextEdit took %.2f CPU s)\n",
                naivePreload);

    std::printf("\nThroughput with the record on, received bytes per CPU second (the log's writes "
                "included):\n");
    for (const Case& c : {cases[0], cases[3]}) {
        const QByteArray stream = Stream(c.kind, c.size);
        const double off = ViewBytesPerCpuSecond(stream);
        const double log = ViewBytesPerCpuSecond(stream, {true, false});
        const double stamps = ViewBytesPerCpuSecond(stream, {false, true});
        const double both = ViewBytesPerCpuSecond(stream, {true, true});
        throughputMet = throughputMet && std::min({log, stamps, both}) >= kTargetBytesPerSecond;
        std::printf("  %-36s off %11.0f  log %11.0f  stamps %11.0f  both %11.0f B/s  %s\n", c.name,
                    off, log, stamps, both,
                    std::min({log, stamps, both}) >= kTargetBytesPerSecond ? "ok"
                                                                           : "UNDER 10,000,000");
    }
    {
        ReceiveView view;
        Preload(view);
        const QTemporaryDir dir;
        QElapsedTimer saving;
        saving.start();
        view.SaveTo(dir.filePath(QStringLiteral("saved.txt")), nullptr);
        std::printf("  Save As of the view holding %.1f MB took %lld ms\n",
                    static_cast<double>(view.textSize()) / 1e6,
                    static_cast<long long>(saving.elapsed()));
    }

    std::printf("\nLatency, 10 MB already in the view:\n");
    {
        ReceiveView view;
        view.resize(900, 500);
        view.show();
        Preload(view);
        SeededRandom rng(4);
        ReportDisplay decoder(rng);
        QByteArray mixed = Stream('A', 400'000) + Stream('B', 400'000);
        PrintLoop("230400 baud, chunks every 1-16 ms, 4 s", AtBaudRate(view, decoder, mixed, 4000));
        {
            const QTemporaryDir dir;
            StartRecord(view, dir, {true, true});
            PrintLoop("the same with log and time stamps on",
                      AtBaudRate(view, decoder, mixed, 4000));
            PrintLoop("1 MB burst with log and time stamps on",
                      InBurst(view, decoder, Stream('A', 1'000'000)));
            view.SetTimeStamps(false);
            view.StopLog();
        }
        PrintLoop("1 MB burst of reports in 4 KB chunks",
                  InBurst(view, decoder, Stream('A', 1'000'000)));
        PrintLoop("1 MB burst without a start byte",
                  InBurst(view, decoder, Stream('C', 1'000'000)));
        PrintLoop("1 MB burst of random bytes", InBurst(view, decoder, Stream('D', 1'000'000)));
    }

    std::printf("\nTotal run time %.1f s\n", static_cast<double>(total.elapsed()) / 1000.0);
    return throughputMet ? 0 : 1;
}
