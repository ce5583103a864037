// The trace client against a viewer in another real process, and the trace window it opens in
// this process when there is none, each test on a private runtime folder.
#include "TracePeer.h"

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
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

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

// What a crashed viewer leaves: a socket file nobody listens on.
bool LeaveStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

QByteArray Frame(quint32 length, QByteArray payload)
{
    QByteArray frame;
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>(length >> shift));
    return frame + payload;
}

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
    void viewerGoneMidRunDropsLaterLines();
    void silentViewerCostsOneWait();
    void withoutViewerTheWindowOpensHere_data();
    void withoutViewerTheWindowOpensHere();
    void unusableFolderShowsOneBoxThenDrops();
    void runtimeFolderIsPrivate_data();
    void runtimeFolderIsPrivate();
    void windowSurvivesMalformedFrames_data();
    void windowSurvivesMalformedFrames();
    void windowCommands_data();
    void windowCommands();
    void windowKeepsBoundedLinesAndFollowsOnlyWhenDisplayed();
    void secondViewerExitsWithAMessage();

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
    // Created after the first look: this run must not notice it.
    QVERIFY(QFile(marker).open(QIODevice::WriteOnly));
    TraceText("def", true);
    EnsureTraceWindow();

    QCOMPARE(viewer.LinesFor(200), QByteArrayList{});
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

void TraceTest::viewerGoneMidRunDropsLaterLines()
{
    TracePeer viewer;
    QVERIFY(viewer.Start({"viewer", m_runtime->SocketPath()}));
    TraceText("before", false);
    viewer.process().kill();
    QVERIFY(viewer.process().waitForFinished(5000));

    QElapsedTimer timer;
    timer.start();
    TraceText("after", false);
    TraceText("after again", false);
    QVERIFY2(timer.elapsed() < kAcknowledgeLimitMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(TraceWindows().isEmpty());
    QVERIFY(InProcessTraceWindow() == nullptr);
}

void TraceTest::silentViewerCostsOneWait()
{
    TracePeer silent;
    QVERIFY(silent.Start({"silent", m_runtime->SocketPath()}));

    QElapsedTimer timer;
    timer.start();
    TraceText("first", false);
    const qint64 first = timer.restart();
    TraceText("second", false);
    TraceText("third", false);
    const qint64 later = timer.elapsed();

    QVERIFY2(first >= kAcknowledgeLimitMs - 50 && first < 3 * kAcknowledgeLimitMs,
             qPrintable(QString::number(first)));
    QVERIFY2(later < 50, qPrintable(QString::number(later)));
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::withoutViewerTheWindowOpensHere_data()
{
    QTest::addColumn<bool>("staleSocket");
    QTest::newRow("no socket file") << false;
    QTest::newRow("stale socket file of a crashed viewer") << true;
}

void TraceTest::withoutViewerTheWindowOpensHere()
{
    QFETCH(bool, staleSocket);
    if (staleSocket)
        QVERIFY(LeaveStaleSocket(m_runtime->SocketPath()));

    TraceText("abc", false);

    const QList<CTraceWnd*> windows = TraceWindows();
    QCOMPARE(windows.size(), 1);
    CTraceWnd* wnd = windows.front();
    QCOMPARE(InProcessTraceWindow(), wnd);
    QVERIFY(wnd->isVisible());
    QCOMPARE(wnd->pos(), QPoint(0, 0));
    QCOMPARE(wnd->size(), QSize(200, 700));
    QCOMPARE(wnd->windowTitle(), QStringLiteral("SuperDUdiro"));
    QCOMPARE(LogTexts(*wnd), QByteArrayList{"abc"});

    // Other processes find it under the name.
    TracePeer sender;
    QVERIFY(sender.Start({"send", m_runtime->SocketPath(), "xta1:from elsewhere"}));
    QTRY_COMPARE(sender.process().state(), QProcess::NotRunning);
    QCOMPARE(sender.process().exitCode(), 0);
    QCOMPARE(LogTexts(*wnd), (QByteArrayList{"abc", "from elsewhere"}));

    // Closed by the user: later lines go nowhere, and no second window comes.
    wnd->close();
    QTRY_VERIFY(TraceWindows().isEmpty());
    TraceText("dropped", false);
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::unusableFolderShowsOneBoxThenDrops()
{
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    const QString folder = tmp.filePath(QStringLiteral("orvexa-trace-%1").arg(::geteuid()));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));

    QStringList shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown << box->windowTitle() + '|' + box->text();
                box->done(QMessageBox::Ok);
            }
    });
    closer.start(20);
    TraceText("first", false);
    TraceText("second", false);
    qputenv("TMPDIR", oldTmp);

    QCOMPARE(shown, QStringList{"|DUdiro window could not be created"});
    QVERIFY(TraceWindows().isEmpty());
}

void TraceTest::runtimeFolderIsPrivate_data()
{
    QTest::addColumn<QString>("runtimeMode"); // "" unset, else octal mode of $XDG_RUNTIME_DIR
    QTest::addColumn<QString>("fallback");    // "none", "0755" or "link": what is there before
    QTest::addColumn<QString>("expected");    // "runtime", "fallback" or "none"
    QTest::newRow("runtime folder 0700 is used") << "700"
                                                 << "none"
                                                 << "runtime";
    QTest::newRow("unset: fallback created 0700") << ""
                                                  << "none"
                                                  << "fallback";
    QTest::newRow("runtime folder others may enter") << "755"
                                                     << "none"
                                                     << "fallback";
    QTest::newRow("fallback others may enter is refused") << ""
                                                          << "0755"
                                                          << "none";
    QTest::newRow("fallback as a link is refused") << ""
                                                   << "link"
                                                   << "none";
}

void TraceTest::runtimeFolderIsPrivate()
{
    QFETCH(QString, runtimeMode);
    QFETCH(QString, fallback);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    if (runtimeMode.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        QCOMPARE(::chmod(QFile::encodeName(m_runtime->path()), runtimeMode.toUInt(nullptr, 8)), 0);
    const QString folder = tmp.filePath(QStringLiteral("orvexa-trace-%1").arg(::geteuid()));
    if (fallback == "0755")
        QCOMPARE(::mkdir(QFile::encodeName(folder), 0755), 0);
    if (fallback == "link") {
        QVERIFY(QDir().mkdir(tmp.filePath("elsewhere")));
        QCOMPARE(::chmod(QFile::encodeName(tmp.filePath("elsewhere")), 0700), 0);
        QVERIFY(QFile::link(tmp.filePath("elsewhere"), folder));
    }

    QString error;
    const QString path = trace_socket::SocketPath(&error);
    qputenv("TMPDIR", oldTmp);

    if (expected == "none") {
        QVERIFY(path.isEmpty());
        QVERIFY(error.contains(folder));
        return;
    }
    const QString expectedFolder = expected == "runtime" ? m_runtime->path() : folder;
    QCOMPARE(path, expectedFolder + "/DUdiroWindow");
    struct stat info
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(expectedFolder), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
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
        bad.disconnectFromServer();
    }
    QTRY_VERIFY(LogTexts(*wnd).size() >= 2);
    const TraceLog::Line& last = wnd->Log().At(wnd->Log().EndNumber() - 1);
    QVERIFY2(last.text.contains(note.toLatin1()), last.text.constData());
    QCOMPARE(last.tone, TraceLog::Tone::Dimmed);

    TracePeer sender;
    QVERIFY(sender.Start({"send", m_runtime->SocketPath(), "xta1:still here"}));
    QTRY_COMPARE(sender.process().state(), QProcess::NotRunning);
    QCOMPARE(sender.process().exitCode(), 0);
    QCOMPARE(LogTexts(*wnd).back(), QByteArray("still here"));
}

void TraceTest::windowCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("shown"); // pattern of the last line, empty for none added
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

    const TraceLog::Line& last = wnd.Log().At(wnd.Log().EndNumber() - 1);
    if (shown.isEmpty()) {
        QCOMPARE(wnd.Log().Size(), 1);
        QCOMPARE(wnd.pos(), QPoint(10, 20));
        QCOMPARE(wnd.size(), QSize(300, 400));
        return;
    }
    QCOMPARE(wnd.Log().Size(), 2);
    QVERIFY2(QRegularExpression(shown).match(QString::fromLatin1(last.text)).hasMatch(),
             last.text.constData());
    QCOMPARE(last.tone == TraceLog::Tone::Dimmed, dimmed);
    QTRY_VERIFY(wnd.View()->toPlainText().contains(QString::fromLatin1(last.text)));

    wnd.HandleCommand("xtc");
    QCOMPARE(wnd.Log().Size(), 0);
    QCOMPARE(wnd.View()->toPlainText(), QString());
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
    QCOMPARE(wnd.Log().At(wnd.Log().EndNumber() - 1).text, QByteArray("held back"));
    wnd.DisplayLog()->setChecked(true);
    QVERIFY(wnd.View()->toPlainText().endsWith(QStringLiteral("held back\n")));
}

void TraceTest::secondViewerExitsWithAMessage()
{
    QProcess first, second;
    first.start(QStringLiteral(ORVEXA_TRACE_PATH), {});
    QVERIFY(first.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_runtime->SocketPath()), 5000);

    second.start(QStringLiteral(ORVEXA_TRACE_PATH), {});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.readAllStandardError().contains("already running"), "");

    TraceText("to the viewer", false);
    QVERIFY(TraceWindows().isEmpty());
    first.kill();
    first.waitForFinished(5000);
}

QTEST_MAIN(TraceTest)
#include "tst_trace.moc"
