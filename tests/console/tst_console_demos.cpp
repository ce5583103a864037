// The demos against a pseudo-terminal: everything a demo sends arrives whole and in order, the
// window stays live while it runs, and closing or losing the port ends it cleanly.
#include "ConsoleFixture.h"

#include "commands/Demos.h"
#include "support/CodePage.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/WriteCount.h"

#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

// Reads on a thread of its own until the stream ends with `tail` and then stays quiet, so the
// console's event loop on the test's thread is free to drain its output queue meanwhile.
class BackgroundReader
{
public:
    BackgroundReader(PseudoTerminal& module, QByteArray tail)
        : m_thread([this, &module, tail] {
              QDeadlineTimer deadline(60000);
              while (!deadline.hasExpired()) {
                  m_bytes += module.ReadFor(20);
                  if (m_bytes.endsWith(tail) && module.ReadFor(100).isEmpty())
                      break;
              }
              m_done = true;
          })
    {}
    ~BackgroundReader() { m_thread.join(); }

    bool done() const { return m_done; }
    QByteArray bytes() const { return m_done ? m_bytes : QByteArray(); }

private:
    QByteArray m_bytes;
    std::atomic<bool> m_done = false;
    std::thread m_thread;
};

} // namespace

class ConsoleDemosTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void demo1QueuesEverythingAndLosesNothing();
    void demo2();
    void demo3_data();
    void demo3();
    void closingThePortStopsAtASendBoundary();
    void demoOffStopsAtASendBoundary_data();
    void demoOffStopsAtASendBoundary();

private:
    ReceiveView* Receive() const { return m_f->Get<ReceiveView>(ids::kReceive); }

    std::unique_ptr<ConsoleFixture> m_f;
    std::unique_ptr<PseudoTerminal> m_module;
};

void ConsoleDemosTest::init()
{
    m_f = std::make_unique<ConsoleFixture>();
    QFile marker(m_f->MarkerPath());
    QVERIFY(marker.open(QIODevice::WriteOnly));
    m_module = std::make_unique<PseudoTerminal>();
    QVERIFY(m_f->StartOpen(*m_module, 5));
    QVERIFY(m_f->Get<QWidget>(ids::kDemo1)->isVisible());
}

void ConsoleDemosTest::cleanup()
{
    m_f.reset();
    m_module.reset();
}

void ConsoleDemosTest::demo1QueuesEverythingAndLosesNothing()
{
    CMSComm& comm = m_f->console->Comm();
    const WriteCount writesBefore = ThreadWriteCount();
    const qint64 drawsBefore = m_f->rng.Drawn();
    const qint64 shortBefore = comm.ShortWrites();
    // Nobody reads yet: a handler that waited for the line would never return.
    m_f->Click(ids::kDemo1);
    QVERIFY(comm.QueuedOutputBytes() > 0);
    QVERIFY(m_f->console->IsDemoRunning());

    BackgroundReader reader(*m_module, "BoxFill 300,300,400,400;");
    QTRY_VERIFY_WITH_TIMEOUT(reader.done(), 60000);
    const WriteCount writesAfter = ThreadWriteCount();
    // The lines draw four values each before anything is sent; every other draw sized a piece.
    // Each piece is a write of its own, plus one more for each time the device was full.
    const qint64 pieces = m_f->rng.Drawn() - drawsBefore - 4 * 10000;
    if (writesBefore.isValid()) {
        // The thread also writes for itself: the event loop's wake-ups (8 bytes each, to an
        // eventfd) and the odd warning line, each at least 8 bytes. So the calls beyond the
        // pieces' own are at most the other bytes over 8; a merge would leave fewer calls than
        // pieces.
        const qint64 calls = writesAfter.calls - writesBefore.calls;
        const qint64 pieceWrites = pieces + comm.ShortWrites() - shortBefore;
        const qint64 otherBytes = writesAfter.bytes - writesBefore.bytes - reader.bytes().size();
        QVERIFY2(calls >= pieceWrites && calls <= pieceWrites + otherBytes / 8,
                 qPrintable(QString("%1 calls for %2 piece writes and %3 other bytes")
                                .arg(calls)
                                .arg(pieceWrites)
                                .arg(otherBytes)));
    }
    const QByteArray stream = reader.bytes();
    QVERIFY(stream.startsWith("Clear;MoveTo 0,0;"));
    const QList<QByteArray> lines = stream.mid(17, stream.size() - 17 - 24).split(';');
    QCOMPARE(lines.size(), 10001); // the last is what follows the final ";"
    const QRegularExpression line("^line ([12]?\\d?\\d,){3}[12]?\\d?\\d$");
    for (qsizetype i = 0; i < 10000; ++i)
        QVERIFY2(line.match(QString::fromLatin1(lines[i])).hasMatch(), lines[i].constData());
    QCOMPARE(comm.QueuedOutputBytes(), 0);
    QTRY_VERIFY(!m_f->console->IsDemoRunning());
}

void ConsoleDemosTest::demo2()
{
    const QByteArray print = "Print '" + ToCp949(QStringLiteral("탈던테크놀로지")) + "';";
    BackgroundReader reader(*m_module, "TextFont 501,'Courier New',0,0,0;TextPos 165,90;" + print);
    m_f->Click(ids::kDemo2);
    QTRY_VERIFY_WITH_TIMEOUT(reader.done(), 30000);
    QByteArray stream = reader.bytes();
    const QByteArray opening = "Clear;Button 1,20,20,200,150,'cap';";
    QVERIFY(stream.startsWith(opening));
    stream.remove(0, opening.size());
    // Every batch ends with the one fixed Print statement.
    qsizetype from = 0;
    for (int size = 1; size <= 501; ++size) {
        const qsizetype end = stream.indexOf(print, from) + print.size();
        QVERIFY(end > from);
        const QByteArray batch = stream.mid(from, end - from);
        const QByteArray expected =
            "TextFont " + QByteArray::number(size) + ",'Courier New',0,0,0;TextPos 165,90;" + print;
        QVERIFY2(batch.startsWith("Color &H") && batch.endsWith(expected), batch.constData());
        from = end;
    }
    QCOMPARE(from, stream.size());
    QVERIFY(!m_f->console->IsDemoRunning());
}

void ConsoleDemosTest::demo3_data()
{
    QTest::addColumn<QString>("during");
    QTest::addColumn<int>("pictures");
    QTest::addColumn<int>("messages");
    QTest::newRow("Escape pressed") << "escape" << 1 << 0;
    QTest::newRow("Escape held from the start") << "held" << 1 << 0;
    QTest::newRow("window closed") << "close" << 1 << 0;
    QTest::newRow("port lost") << "lost" << 1 << 1;
}

// While the first picture waits, a report arrives and another button is clicked; then the demo is
// ended one way or another after picture 1.
void ConsoleDemosTest::demo3()
{
    QFETCH(QString, during);
    QFETCH(int, pictures);
    QFETCH(int, messages);
    QWidget* console = m_f->console.get();
    if (during == "held")
        QTest::keyPress(console, Qt::Key_Escape);
    // Steps are taken when the console has reached the state they need, not at set times: once
    // picture 1 has arrived the demo waits for the next; once the report is shown the demo is
    // ended.
    const QByteArray firstPicture = "print '1',10,10;";
    QByteArray arrived;
    int step = 0;
    QElapsedTimer clock;
    qint64 endedAt = -1;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &poll, [&] {
        if (step == 0) {
            arrived += m_module->ReadFor(0);
            if (!arrived.contains(firstPicture))
                return;
            QVERIFY(m_module->Write(QByteArray::fromHex("0281050100000003")));
            m_f->Click(ids::kClear); // ignored: a handler is running
            step = 1;
        } else if (step == 1 && during != "held") {
            if (!Receive()->toPlainText().contains("$on_click (down : ctrl 5)"))
                return;
            step = 2;
            endedAt = clock.elapsed();
            if (during == "escape")
                QTest::keyClick(console, Qt::Key_Escape);
            else if (during == "close")
                console->close();
            else if (during == "lost")
                m_module->CloseMaster();
        }
    });
    poll.start(10);
    clock.start();
    m_f->Click(ids::kDemo3);
    poll.stop();
    QCOMPARE(step, during == "held" ? 1 : 2);
    // Held from the start, Escape is seen when the first wait ends, and the bytes below show that
    // no second picture followed. A press, a close or a lost port ends the wait at once: well
    // inside what is left of the demo's two-second wait.
    if (during != "held")
        QVERIFY2(clock.elapsed() - endedAt < 1000, "the demo went on waiting");
    if (during == "held")
        QTest::keyRelease(console, Qt::Key_Escape);

    if (during != "lost") {
        QByteArray expected = "Clear;dump 1;";
        for (int picture = 1; picture <= pictures; ++picture)
            expected += "drawimage '" + QByteArray::number(picture) + ".bmp';textfont 30,'HY" +
                        ToCp949(QStringLiteral("견고딕")) + "';print '" +
                        QByteArray::number(picture) + "',10,10;";
        QCOMPARE(arrived + m_module->ReadFor(300), expected);
    }
    if (during == "close") {
        QVERIFY(!console->isVisible());
        QVERIFY(QFile::exists(m_f->SettingsFile()));
        return;
    }
    QVERIFY(console->isVisible());
    if (during != "held")
        QTRY_VERIFY(Receive()->toPlainText().contains("$on_click (down : ctrl 5)"));
    QCOMPARE(m_f->MessageBoxes().size(), messages);
}

// The close finishes the statement being written and drops whole statements after it; the receive
// view says how much was dropped, and the port opens again at once.
void ConsoleDemosTest::closingThePortStopsAtASendBoundary()
{
    m_f->Click(ids::kDemo1);
    const qint64 queued = m_f->console->Comm().QueuedOutputBytes();
    QVERIFY(queued > 0);
    std::atomic<bool> closed = false;
    QByteArray received;
    std::thread reader([&] {
        while (!closed)
            received += m_module->ReadFor(5);
        received += m_module->ReadFor(200);
    });
    m_f->Click(ids::kClose);
    closed = true;
    reader.join();
    QVERIFY(!m_f->console->Comm().GetPortOpen());
    QVERIFY(!m_f->console->IsDemoRunning());
    QVERIFY2(received.endsWith(';'), received.right(40).constData());
    const QString text = Receive()->toPlainText();
    const QRegularExpression note("\\[(\\d+) bytes of queued output were not sent");
    const auto match = note.match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    QVERIFY(match.captured(1).toLongLong() > 0);

    m_f->Click(ids::kOpen);
    QCOMPARE(m_module->ReadExactly(20, 3000), QByteArray("MakeTestEnvironment;"));
    QVERIFY(m_f->MessageBoxes().isEmpty());
}

void ConsoleDemosTest::demoOffStopsAtASendBoundary_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Demo Off") << false;
    QTest::newRow("Escape") << true;
}

// What reaches the line is the demo's start up to the end of a statement, the receive view says
// how much of the rest was dropped, and a send of the user's queued behind the demo still goes.
void ConsoleDemosTest::demoOffStopsAtASendBoundary()
{
    QFETCH(bool, escape);
    // The console's source replayed: Demo 1 draws all its lines before the first piece size.
    SeededRandom replay(20261208);
    for (qint64 i = 0; i < m_f->rng.Drawn(); ++i)
        replay.Draw();
    QByteArray demo;
    std::vector<qsizetype> boundaries{0};
    for (const QByteArray& send : Demo1Sends(replay)) {
        demo += send;
        boundaries.push_back(demo.size());
    }

    m_f->Click(ids::kDemo1);
    m_f->Click(ids::kClear);
    QVERIFY(m_f->console->IsDemoRunning());
    QByteArray received = m_module->ReadExactly(20000, 10000);
    QCOMPARE(received.size(), 20000);
    if (escape)
        QTest::keyClick(m_f->console.get(), Qt::Key_Escape);
    else
        m_f->Click(ids::kDemoOff);
    QVERIFY(!m_f->console->IsDemoRunning());
    for (QByteArray more = m_module->ReadFor(300); !more.isEmpty(); more = m_module->ReadFor(300))
        received += more;

    QVERIFY2(received.endsWith("Clear;"), received.right(40).constData());
    received.chop(6);
    QVERIFY(std::binary_search(boundaries.begin(), boundaries.end(), received.size()));
    QVERIFY(demo.startsWith(received));
    const QRegularExpression note(
        "\\[(\\d+) bytes of queued output were not sent: the demo was stopped\\]");
    const auto match = note.match(Receive()->toPlainText());
    QVERIFY2(match.hasMatch(), qPrintable(Receive()->toPlainText().right(200)));
    QCOMPARE(received.size() + match.captured(1).toLongLong(), demo.size());
}

QTEST_MAIN(ConsoleDemosTest)
#include "tst_console_demos.moc"
