// The trace client against a viewer in another real process, and the trace window it opens in
// this process when there is none, each test on a private runtime folder.
#include "TracePeer.h"

#include "support/UniqueFd.h"
#include "support/ui/ReceiveView.h"
#include "trace/TraceClient.h"
#include "trace/TraceSocket.h"
#include "trace/TraceWnd.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

QList<CTraceWnd*> TraceWindows()
{
    QList<CTraceWnd*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* wnd = qobject_cast<CTraceWnd*>(w))
            windows.append(wnd);
    return windows;
}

QByteArrayList LogTexts(const CTraceWnd& wnd)
{
    QByteArrayList texts;
    for (qint64 n = wnd.Log().FirstNumber(); n < wnd.Log().EndNumber(); ++n)
        texts.append(wnd.Log().At(n).text);
    return texts;
}

const TraceLog::Line& LastLine(const CTraceWnd& wnd)
{
    return wnd.Log().At(wnd.Log().EndNumber() - 1);
}

QByteArray Frame(quint32 length, QByteArray payload)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        payload.prepend(static_cast<char>(length >> shift));
    return payload;
}

// Another process sends `command` to the socket; true once the window has acknowledged it.
bool SentFromElsewhere(const QString& socket, const QString& command)
{
    TracePeer sender;
    if (!sender.Start({"send", socket, command}))
        return false;
    // The window answers on this thread, so wait with its events running.
    (void)QTest::qWaitFor([&] { return sender.process().state() == QProcess::NotRunning; }, 5000);
    return sender.process().exitCode() == 0;
}

// No runtime folder: the fallback in a fresh temporary folder, `existing` made there first.
class FallbackFolder
{
public:
    explicit FallbackFolder(int existingMode = 0)
        : m_oldTmp(qgetenv("TMPDIR")),
          m_path(m_tmp.filePath(QStringLiteral("orvexa-trace-%1").arg(::geteuid())))
    {
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        qunsetenv("XDG_RUNTIME_DIR"); // PrivateRuntime puts it back
        // A link to a private folder is refused too: whoever made it chose where it goes.
        if (existingMode < 0 && ::mkdir(QFile::encodeName(m_tmp.filePath("elsewhere")), 0700) == 0)
            QFile::link(m_tmp.filePath("elsewhere"), m_path);
        if (existingMode > 0)
            ::mkdir(QFile::encodeName(m_path), static_cast<mode_t>(existingMode));
    }
    ~FallbackFolder() { qputenv("TMPDIR", m_oldTmp); }
    QString path() const { return m_path; }

private:
    QTemporaryDir m_tmp;
    QByteArray m_oldTmp;
    QString m_path;
};

// A sender of this process, connected without waiting for the viewer to take it; invalid once
// the backlog or this process's descriptors run out.
UniqueFd ConnectWithoutWaiting(const QString& path)
{
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    if (fd.isValid() &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fd.reset();
    return fd;
}

// Senders whose connection the viewer has closed.
qsizetype Ended(const std::vector<UniqueFd>& senders)
{
    return std::count_if(senders.begin(), senders.end(), [](const UniqueFd& fd) {
        char byte = 0;
        return ::recv(fd.get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    });
}

// Lowers this process's descriptor limit to `free` numbers above the highest one open, for the
// object's lifetime.
class DescriptorLimit
{
public:
    explicit DescriptorLimit(int free)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        int highest = 0;
        for (const QString& name :
             QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System))
            highest = std::max(highest, name.toInt());
        rlimit lowered = m_old;
        lowered.rlim_cur = static_cast<rlim_t>(highest + 1 + free);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_old); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

private:
    rlimit m_old{};
};

} // namespace

class TraceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void markerAbsentDoesNothingAndLooksOnce();
    void linesReachAViewerInAnotherProcess_data();
    void linesReachAViewerInAnotherProcess();
    void viewerGoneOrSilentCostsAtMostOneWait_data();
    void viewerGoneOrSilentCostsAtMostOneWait();
    void withoutViewerTheWindowOpensHere_data();
    void withoutViewerTheWindowOpensHere();
    void socketFolderIsPrivate_data();
    void socketFolderIsPrivate();
    void unusableFolderShowsOneBoxThenDrops();
    void windowSurvivesMalformedFrames_data();
    void windowSurvivesMalformedFrames();
    void windowCommands_data();
    void windowCommands();
    void windowKeepsBoundedLinesAndFollowsOnlyWhenDisplayed();
    void secondViewerExitsWithAMessage();
    void rectIsFittedToTheDesktop_data();
    void rectIsFittedToTheDesktop();
    void hugeRectFromElsewhereIsFittedAndAcknowledged();
    void viewerKeepsListeningWhenSqueezed_data();
    void viewerKeepsListeningWhenSqueezed();

private:
    std::unique_ptr<QTemporaryDir> m_markerDir;
    std::unique_ptr<PrivateRuntime> m_runtime;
};

void TraceTest::init()
{
    m_markerDir = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<PrivateRuntime>();
    QFile marker(m_markerDir->filePath(QStringLiteral("marker")));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    ResetTraceMarker(marker.fileName());
    ResetTraceWindow();
}

void TraceTest::cleanup()
{
    ResetTraceWindow();
    m_runtime.reset();
    m_markerDir.reset();
}

void TraceTest::markerAbsentDoesNothingAndLooksOnce()
{
    TracePeer viewer;
    QVERIFY(viewer.Start({"viewer", m_runtime->SocketPath()}));
    const QString marker = m_markerDir->filePath(QStringLiteral("absent"));
    ResetTraceMarker(marker);

    TraceText("abc", false);
    QVERIFY(QFile(marker).open(QIODevice::WriteOnly)); // too late for this run
    TraceText("def", true);
    EnsureTraceWindow();

    QCOMPARE(viewer.LinesFor(200), QByteArrayList{}); // not even a connection
    QVERIFY(TraceWindows().isEmpty());
    QCOMPARE(m_runtime->Entries(), QStringList{"DUdiroWindow"});
}

void TraceTest::linesReachAViewerInAnotherProcess_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("timestamped");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("untimed, 9 bytes") << QByteArray("abc") << false << QByteArray("xta1:abc\0", 9);
    QTest::newRow("timed, 10 bytes") << QByteArray("abc") << true << QByteArray("xta1t:abc\0", 10);
    QTest::newRow("empty, 6 bytes") << QByteArray() << false << QByteArray("xta1:\0", 6);
    QTest::newRow("text ends at its NUL")
        << QByteArray("ab\0cd", 5) << false << QByteArray("xta1:ab\0", 8);
}

void TraceTest::linesReachAViewerInAnotherProcess()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, timestamped);
    QFETCH(QByteArray, payload);
    TracePeer viewer;
    QVERIFY(viewer.Start({"viewer", m_runtime->SocketPath()}));

    TraceText(text, timestamped);
    TraceText("second", false);

    QCOMPARE(viewer.NextLine(3000), QByteArray("connected"));
    QCOMPARE(viewer.NextLine(3000), "frame " + payload.toHex());
    QCOMPARE(viewer.NextLine(3000), "frame " + QByteArray("xta1:second\0", 12).toHex());
    QCOMPARE(viewer.LinesFor(100), QByteArrayList{}); // one connection for the run
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::viewerGoneOrSilentCostsAtMostOneWait_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("firstWaits");
    QTest::newRow("viewer closes mid-run") << "viewer" << false;
    QTest::newRow("viewer never acknowledges") << "silent" << true;
}

void TraceTest::viewerGoneOrSilentCostsAtMostOneWait()
{
    QFETCH(QString, mode);
    QFETCH(bool, firstWaits);
    TracePeer peer;
    QVERIFY(peer.Start({mode, m_runtime->SocketPath()}));
    EnsureTraceWindow();
    if (mode == "viewer") {
        peer.process().kill();
        QVERIFY(peer.process().waitForFinished(5000));
    }

    QElapsedTimer timer;
    timer.start();
    TraceText("first", false);
    const qint64 first = timer.restart();
    TraceText("second", false);
    TraceText("third", false);
    const qint64 later = timer.elapsed();

    if (firstWaits)
        QVERIFY2(first >= kAcknowledgeLimitMs - 50 && first < 3 * kAcknowledgeLimitMs,
                 qPrintable(QString::number(first)));
    else
        QVERIFY2(first < kAcknowledgeLimitMs / 2, qPrintable(QString::number(first)));
    // Once the viewer is known to be gone, no call waits for it again: even one more wait would
    // take the whole limit.
    QVERIFY2(later < kAcknowledgeLimitMs / 2, qPrintable(QString::number(later)));
    QVERIFY(TraceWindows().isEmpty()); // and none is opened instead
}

void TraceTest::withoutViewerTheWindowOpensHere_data()
{
    QTest::addColumn<bool>("crashedViewer");
    QTest::newRow("no socket file") << false;
    QTest::newRow("socket file of a crashed viewer") << true;
}

void TraceTest::withoutViewerTheWindowOpensHere()
{
    QFETCH(bool, crashedViewer);
    if (crashedViewer) {
        TracePeer viewer;
        QVERIFY(viewer.Start({"viewer", m_runtime->SocketPath()}));
        viewer.process().kill(); // leaves its socket file behind
        QVERIFY(viewer.process().waitForFinished(5000));
        QCOMPARE(m_runtime->Entries(), QStringList{"DUdiroWindow"});
    }

    TraceText("abc", false);

    const QList<CTraceWnd*> windows = TraceWindows();
    QCOMPARE(windows.size(), 1);
    CTraceWnd* wnd = windows.front();
    QCOMPARE(InProcessTraceWindow(), wnd);
    QVERIFY(wnd->isVisible());
    QCOMPARE(QRect(wnd->pos(), wnd->size()), QRect(0, 0, 200, 700)); // frame at, text area of
    QCOMPARE(wnd->windowTitle(), QStringLiteral("SuperDUdiro"));
    QCOMPARE(LogTexts(*wnd), QByteArrayList{"abc"});
    QVERIFY(SentFromElsewhere(m_runtime->SocketPath(), "xta1:from elsewhere"));
    QCOMPARE(LogTexts(*wnd), (QByteArrayList{"abc", "from elsewhere"}));

    // Closed by the user: later lines go nowhere, and no second window comes.
    wnd->close();
    QTRY_VERIFY(TraceWindows().isEmpty());
    TraceText("dropped", false);
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::socketFolderIsPrivate_data()
{
    QTest::addColumn<int>("runtimeMode");  // of $XDG_RUNTIME_DIR; 0 leaves it unset
    QTest::addColumn<int>("existingMode"); // of a fallback made first; 0 none, -1 a link
    QTest::addColumn<bool>("usable");
    QTest::newRow("unset: fallback created 0700") << 0 << 0 << true;
    QTest::newRow("runtime folder others may enter: fallback") << 0755 << 0 << true;
    QTest::newRow("fallback others may enter is refused") << 0 << 0755 << false;
    QTest::newRow("fallback as a link is refused") << 0 << -1 << false;
}

void TraceTest::socketFolderIsPrivate()
{
    QFETCH(int, runtimeMode);
    QFETCH(int, existingMode);
    QFETCH(bool, usable);
    FallbackFolder fallback(existingMode);
    if (runtimeMode != 0) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime->path()));
        QCOMPARE(::chmod(QFile::encodeName(m_runtime->path()), static_cast<mode_t>(runtimeMode)),
                 0);
    }

    QString error;
    const QString path = trace_socket::SocketPath(&error);

    if (!usable) {
        QVERIFY(path.isEmpty());
        QVERIFY2(error.contains(fallback.path()), qPrintable(error));
        return;
    }
    QCOMPARE(path, fallback.path() + "/DUdiroWindow");
    struct stat info
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(fallback.path()), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
}

void TraceTest::unusableFolderShowsOneBoxThenDrops()
{
    FallbackFolder fallback(0755);

    QStringList shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown << box->windowTitle() + '|' + box->text();
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(20);
    TraceText("first", false);
    TraceText("second", false);

    QCOMPARE(shown, QStringList{"|DUdiro window could not be created"});
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::windowSurvivesMalformedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("note");
    QByteArray garbage(1 << 20, '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) >> 3);
    QTest::newRow("empty frame") << Frame(0, {}) << "without its closing NUL";
    QTest::newRow("missing NUL") << Frame(8, "xta1:abc") << "without its closing NUL";
    QTest::newRow("length beyond the limit") << Frame(0xFFFFFFFF, "xta1:") << "announced as";
    QTest::newRow("1 MB of garbage") << garbage << "announced as";
    QTest::newRow("sender leaves mid-frame") << Frame(10, "xta1:") << "left inside a frame";
}

void TraceTest::windowSurvivesMalformedFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, note);
    TraceText("open", false);
    CTraceWnd* wnd = InProcessTraceWindow();
    QVERIFY(wnd);

    {
        QLocalSocket bad;
        bad.connectToServer(m_runtime->SocketPath());
        QVERIFY(bad.waitForConnected(1000));
        bad.write(bytes);
        QTRY_VERIFY(bad.bytesToWrite() == 0 || bad.state() != QLocalSocket::ConnectedState);
    }
    QTRY_COMPARE(wnd->Log().Size(), 2);
    QVERIFY2(LastLine(*wnd).text.contains(note.toLatin1()), LastLine(*wnd).text.constData());
    QCOMPARE(LastLine(*wnd).tone, TraceLog::Tone::Dimmed);
    QVERIFY(SentFromElsewhere(m_runtime->SocketPath(), "xta1:still here"));
    QCOMPARE(LastLine(*wnd).text, QByteArray("still here"));
}

void TraceTest::windowCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("shown"); // pattern of the line added, empty for none
    QTest::addColumn<bool>("dimmed");
    QTest::newRow("xta1") << QByteArray("xta1:abc") << "^abc$" << false;
    QTest::newRow("xta1t carries a time stamp")
        << QByteArray("xta1t:abc") << R"(^\d\d:\d\d:\d\d\.\d\d\d abc$)" << false;
    QTest::newRow("xtrect moves the window") << QByteArray("xtrect:10,20,310,420") << "" << false;
    QTest::newRow("xtrect short of a number")
        << QByteArray("xtrect:10,20,310") << R"(^xtrect:10,20,310 \(ignored)" << true;
    QTest::newRow("xtrect beyond 32 bits")
        << QByteArray("xtrect:0,0,4294967296,1") << R"(^xtrect:0,0,4294967296,1 \(ignored)" << true;
    for (const char* other : {"xts:1", "xtd:2", "xta2:x", "xta2t:x", "xta1 without colon", "xtcx"})
        QTest::newRow(other) << QByteArray(other) << "^" + QRegularExpression::escape(other) + "$"
                             << true;
}

void TraceTest::windowCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, shown);
    QFETCH(bool, dimmed);
    CTraceWnd wnd;
    wnd.show();
    wnd.HandleCommand("xta1:before");

    wnd.HandleCommand(command);

    if (shown.isEmpty()) {
        QCOMPARE(wnd.Log().Size(), 1);
        QCOMPARE(QRect(wnd.pos(), wnd.size()), QRect(10, 20, 300, 400));
        return;
    }
    QCOMPARE(wnd.Log().Size(), 2);
    const QString last = QString::fromLatin1(LastLine(wnd).text);
    QVERIFY2(QRegularExpression(shown).match(last).hasMatch(), qPrintable(last));
    QCOMPARE(LastLine(wnd).tone == TraceLog::Tone::Dimmed, dimmed);
    QVERIFY(wnd.View()->toPlainText().endsWith(last + '\n'));

    wnd.HandleCommand("xtc");
    QCOMPARE(wnd.Log().Size(), 0);
    wnd.HandleCommand("xta1:after");
    QCOMPARE(wnd.View()->toPlainText(), QStringLiteral("after\n"));
}

void TraceTest::windowKeepsBoundedLinesAndFollowsOnlyWhenDisplayed()
{
    CTraceWnd wnd;
    const qint64 total = TraceLog::kMaxLines * 2 + 7;
    for (qint64 i = 0; i < total; ++i)
        wnd.HandleCommand("xta1:" + QByteArray::number(i));

    QCOMPARE(wnd.Log().Size(), TraceLog::kMaxLines);
    QCOMPARE(wnd.Log().At(wnd.Log().FirstNumber()).text,
             QByteArray::number(total - TraceLog::kMaxLines));
    const QString shown = wnd.View()->toPlainText();
    QVERIFY(shown.count(u'\n') <= TraceLog::kMaxLines * 5 / 4);
    QVERIFY(shown.endsWith(QString::number(total - 1) + '\n'));
    QVERIFY(wnd.findChild<QLabel*>()->text().contains(QString::number(TraceLog::kMaxLines)));

    wnd.DisplayLog()->setChecked(false);
    wnd.HandleCommand("xta1:held back");
    QCOMPARE(wnd.View()->toPlainText(), shown);
    wnd.DisplayLog()->setChecked(true);
    QVERIFY(wnd.View()->toPlainText().endsWith(QStringLiteral("held back\n")));
}

void TraceTest::secondViewerExitsWithAMessage()
{
    QProcess first, second;
    first.start(QStringLiteral(ORVEXA_TRACE_PATH), {});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_runtime->SocketPath()), 5000);

    second.start(QStringLiteral(ORVEXA_TRACE_PATH), {});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("already running"));
    first.kill();
    first.waitForFinished(5000);
}

void TraceTest::rectIsFittedToTheDesktop_data()
{
    QTest::addColumn<QList<int>>("asked"); // left, top, right, bottom
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("fitted");
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    const QRect desktop(0, 0, 1920, 1040);
    const QRect right(1920, 30, 1280, 994); // a second screen below a panel
    QTest::newRow("inside, kept") << QList<int>{10, 20, 310, 420} << desktop
                                  << QRect(10, 20, 300, 400);
    QTest::newRow("largest corners") << QList<int>{0, 0, kMax, kMax} << desktop << desktop;
    QTest::newRow("whole 32-bit range") << QList<int>{kMin, kMin, kMax, kMax} << right << right;
    QTest::newRow("empty gets the minimum")
        << QList<int>{50, 60, 50, 60} << desktop << QRect(50, 60, 120, 100);
    QTest::newRow("reversed gets the minimum")
        << QList<int>{kMax, kMax, kMin, kMin} << desktop << QRect(1800, 940, 120, 100);
    QTest::newRow("hanging off moves in")
        << QList<int>{1800, -50, 2000, 250} << desktop << QRect(1720, 0, 200, 300);
    QTest::newRow("onto the second screen")
        << QList<int>{3000, 0, 3300, 2000} << right << QRect(2900, 30, 300, 994);
    QTest::newRow("desktop below the minimum")
        << QList<int>{5, 5, 500, 500} << QRect(0, 0, 80, 60) << QRect(0, 0, 120, 100);
}

void TraceTest::rectIsFittedToTheDesktop()
{
    QFETCH(QList<int>, asked);
    QFETCH(QRect, available);
    QFETCH(QRect, fitted);
    QCOMPARE(FitTraceRect(asked[0], asked[1], asked[2], asked[3], available), fitted);
}

void TraceTest::hugeRectFromElsewhereIsFittedAndAcknowledged()
{
    TraceText("open", false);
    CTraceWnd* wnd = InProcessTraceWindow();
    QVERIFY(wnd);
    QVERIFY(SentFromElsewhere(m_runtime->SocketPath(), "xtrect:0,0,2147483647,2147483647"));
    const QRect available = QGuiApplication::primaryScreen()->availableVirtualGeometry();
    QCOMPARE(QRect(wnd->pos(), wnd->size()), available);
    QVERIFY(SentFromElsewhere(m_runtime->SocketPath(), "xta1:still here"));
    QCOMPARE(LastLine(*wnd).text, QByteArray("still here"));
}

void TraceTest::viewerKeepsListeningWhenSqueezed_data()
{
    QTest::addColumn<bool>("outOfDescriptors");
    QTest::addColumn<QString>("why");
    QTest::newRow("out of file descriptors") << true << "out of file descriptors";
    QTest::newRow("at its limit of senders") << false << "4 senders connected already";
}

void TraceTest::viewerKeepsListeningWhenSqueezed()
{
    QFETCH(bool, outOfDescriptors);
    QFETCH(QString, why);
    constexpr int kMaxSenders = 4;
    const QString path = m_runtime->SocketPath();
    CTraceWnd wnd;
    QString error;
    QVERIFY2(wnd.Listen(path, &error, kMaxSenders), qPrintable(error));

    {
        std::vector<UniqueFd> senders;
        std::optional<DescriptorLimit> limit;
        if (outOfDescriptors)
            limit.emplace(8);
        for (int i = 0; i < (outOfDescriptors ? 1000 : kMaxSenders + 3); ++i) {
            UniqueFd sender = ConnectWithoutWaiting(path);
            if (!sender.isValid())
                break;
            senders.push_back(std::move(sender));
        }
        QVERIFY(senders.size() > 2);
        const qsizetype kept = outOfDescriptors ? 0 : kMaxSenders;
        QTRY_COMPARE(Ended(senders), static_cast<qsizetype>(senders.size()) - kept);
        QVERIFY(QFileInfo::exists(path));
    }
    QTRY_COMPARE(wnd.findChildren<QLocalSocket*>().size(), 0);

    const QByteArrayList lines = LogTexts(wnd);
    QCOMPARE(lines.size(), 1); // however many were turned away
    QVERIFY2(lines.first().contains(why.toLatin1()), lines.first().constData());
    QVERIFY(SentFromElsewhere(path, "xta1:still here"));
    QCOMPARE(LastLine(wnd).text, QByteArray("still here"));
}

QTEST_MAIN(TraceTest)
#include "tst_trace.moc"
