// Figures for the transmit box with more text than anyone types: how soon the window shows when
// the saved text is 50 MB, and the longest event-loop pass while a 1 MB line is pasted (Ctrl+V),
// and while the longest line the box holds is edited and sent to a pseudo-terminal.
//
// Offscreen by default. Under X (QT_QPA_PLATFORM=xcb, e.g. with xvfb-run) the 1 MB line is held
// by another process, this program started again, so the paste reads it from the X server as a
// paste from another program does.
#include "EventLoopTiming.h"

#include "app/ConsoleDlg.h"
#include "bench/ConsoleDriving.h"
#include "resources/ControlIds.h"
#include "support/Paths.h"
#include "support/RandomSource.h"
#include "support/ui/TransmitBox.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"
#include "trace/TraceClient.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QTest>

#include <cstdio>

namespace {

constexpr int kPort = 11;
constexpr int kDefaultSpeedIndex = 5; // "38400"

constexpr qsizetype kPastedCharacters = 1 << 20;

// The other process: holds the clipboard until it is ended.
int HoldClipboard(int argc, char** argv)
{
    QApplication app(argc, argv);
    QGuiApplication::clipboard()->setText(QString(kPastedCharacters, u'L'));
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

// Runs `step`, then the event loop for a while, and gives the longest pass in milliseconds.
double LongestPassMs(TimedApplication& app, const std::function<void()>& step)
{
    app.ResetFigures();
    step();
    RunEventsFor(300);
    return app.longestEventNs / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--hold-clipboard") == 0)
        return HoldClipboard(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    TempConfigHome home;
    ResetTraceMarker(home.filePath(QStringLiteral("no-marker")));
    QDir().mkpath(GetAppDataFolderPath());
    {
        QFile saved(GetSavedTextFilePath());
        saved.open(QIODevice::WriteOnly);
        const QByteArray line = "Line 10,10,200,200;\n";
        for (int written = 0; written < 50 * 1024 * 1024; written += line.size())
            saved.write(line);
    }
    PseudoTerminal module;
    module.PublishAs(kPort);

    QElapsedTimer shown;
    shown.start();
    SeededRandom rng(3);
    CConsoleDlg console(rng);
    console.show();
    const bool exposed = QTest::qWaitForWindowExposed(&console);
    const qint64 shownMs = exposed ? shown.elapsed() : -1;

    OpenPort(console, kPort, kDefaultSpeedIndex);
    module.ReadExactly(20, 3000);
    auto* box = qobject_cast<TransmitBox*>(console.Item(ids::kTransmit));

    QProcess holder;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-clipboard")});
        if (!holder.waitForReadyRead(10000))
            std::fprintf(stderr, "the clipboard holder did not start\n");
        RunEventsFor(300);
    } else {
        QGuiApplication::clipboard()->setText(QString(kPastedCharacters, u'L'));
    }
    // Posted, so the paste is handled by the loop and timed with everything it sets off.
    const double pasteMs = LongestPassMs(app, [&] {
        QCoreApplication::postEvent(
            box, new QKeyEvent(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier));
    });
    const char* const pasteWhere = app.longestEventReceiver;
    // The part of that pass no widget code can shorten: the clipboard's text, read on this thread.
    QElapsedTimer reading;
    reading.start();
    const qsizetype read = QGuiApplication::clipboard()->text().size();
    const double readMs = static_cast<double>(reading.nsecsElapsed()) / 1e6;
    holder.kill();
    holder.waitForFinished();
    for (QMessageBox* message : console.findChildren<QMessageBox*>())
        message->done(QMessageBox::Ok);

    QString longest = QStringLiteral("Print '");
    longest += QString(TransmitBox::kMaxCharacters - 10, u'x') + QStringLiteral("';");
    box->setPlainText(longest);
    RunEventsFor(300);
    box->setFocus();
    box->moveCursor(QTextCursor::End);
    const double typeMs = LongestPassMs(app, [&] { QTest::keyClick(box, Qt::Key_Backspace); });
    const double sendMs = LongestPassMs(
        app, [&] { qobject_cast<QAbstractButton*>(console.Item(ids::kSend))->click(); });
    const QByteArray arrived = module.ReadFor(500);

    std::printf("Transmit box (%s build)\n", ORVEXA_BUILD_TYPE);
    std::printf("  window shown with a 50 MB hcode.txt:        %lld ms (target 2000)\n",
                static_cast<long long>(shownMs));
    std::printf(
        "  longest pass, pasting a 1 MB line (%s):   %.1f ms in %s (refused, box keeps %lld "
        "characters)\n",
        qPrintable(QGuiApplication::platformName()), pasteMs, pasteWhere,
        static_cast<long long>(box->toPlainText().size()));
    std::printf("    of which reading the clipboard:            %.1f ms (%lld characters)\n",
                readMs, static_cast<long long>(read));
    std::printf("  longest pass, editing a %lld-character line: %.1f ms\n",
                static_cast<long long>(longest.size()), typeMs);
    std::printf("  longest pass, sending it:                    %.1f ms (%lld bytes arrived)\n",
                sendMs, static_cast<long long>(arrived.size()));
    const bool met = exposed && shownMs < 2000 && pasteMs < 100 && typeMs < 100 && sendMs < 100;
    std::printf("  targets (shown within 2 s, no pass over 100 ms): %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
