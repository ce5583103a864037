#include "serial/CMSComm.h"
#include "serial/Pieces.h"
#include "serial/PortFolder.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"
#include "tests/common/WriteCount.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;
using Draws = std::vector<int>;

namespace {

constexpr short kPort = 7;

// The text of the CommError `action` throws; empty when it throws none.
QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CommError& error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

// Bytes that show a reordering or a repeat, unlike a run of one character.
QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

} // namespace

class tst_CMSComm : public QObject
{
    Q_OBJECT

    TempConfigHome m_home; // set before any test reads the config folder
    std::unique_ptr<PseudoTerminal> m_terminal;
    std::unique_ptr<CMSComm> m_comm;

    // A pseudo-terminal published as COM7 and a control set to it as the console sets it.
    void Prepare(const QString& settings = u"38400,n,8,1"_s, bool open = true)
    {
        m_terminal = std::make_unique<PseudoTerminal>();
        QVERIFY(m_terminal->PublishAs(kPort));
        m_comm = std::make_unique<CMSComm>();
        m_comm->SetCommPort(kPort);
        m_comm->SetSettings(settings);
        m_comm->SetRThreshold(1);
        m_comm->SetInputMode(1);
        m_comm->SetPortOpen(open);
    }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void cleanup()
    {
        m_comm.reset();
        m_terminal.reset();
    }

    void speeds_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("speed");
        // 28800 and 76800 have no B-constant.
        const int speeds[] = {2400, 4800, 9600, 19200, 28800, 38400, 57600, 76800, 115200, 230400};
        for (int index = 0; index < 10; ++index)
            QTest::addRow("%d baud", speeds[index]) << index << speeds[index];
    }
    void speeds()
    {
        QFETCH(int, index);
        QFETCH(int, speed);
        // Set while open, over a custom speed: a custom input speed left on the line must not
        // outlive a standard one.
        Prepare(u"76800,n,8,1"_s);
        m_comm->SetSettings(GetBaudRateText(index) + u",n,8,1"_s);
        QCOMPARE(m_terminal->Speed(), speed);
    }

    void settingsText_data()
    {
        // The pseudo-terminal shows the speed and the stop bits; the console itself only ever
        // sends a speed with ",n,8,1".
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("speed"); // 0 when the text is bad
        QTest::addColumn<int>("stopBits");

        QTest::newRow("console form") << u"28800,n,8,1"_s << 28800 << 1;
        QTest::newRow("upper case, 2 stop bits") << u"9600,E,7,2"_s << 9600 << 2;
        QTest::newRow("1.5 stop bits, sent as 2") << u"1200,m,5,1.5"_s << 1200 << 2;
        QTest::newRow("blanks around fields") << u" 19200 , o , 6 , 1 "_s << 19200 << 1;
        QTest::newRow("any positive speed") << u"250000,s,8,1"_s << 250000 << 1;

        QTest::newRow("no speed chosen") << u",n,8,1"_s << 0 << 1;
        QTest::newRow("signed speed") << u"+9600,n,8,1"_s << 0 << 1;
        QTest::newRow("speed zero") << u"0,n,8,1"_s << 0 << 1;
        QTest::newRow("speed too large") << u"99999999999,n,8,2"_s << 0 << 1;
        QTest::newRow("unknown parity") << u"9600,x,8,2"_s << 0 << 1;
        QTest::newRow("four data bits") << u"9600,n,4,1"_s << 0 << 1;
        QTest::newRow("nine data bits") << u"9600,n,9,1"_s << 0 << 1;
        QTest::newRow("three stop bits") << u"9600,n,8,3"_s << 0 << 1;
        QTest::newRow("field missing") << u"9600,n,8"_s << 0 << 1;
        QTest::newRow("field too many") << u"9600,n,8,2,1"_s << 0 << 1;
    }
    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(int, speed);
        QFETCH(int, stopBits);

        Prepare(u"4800,n,8,1"_s, false);
        QCOMPARE(ErrorOf([&] { m_comm->SetSettings(text); }),
                 speed ? QString() : u"COM7: bad settings text \"%1\""_s.arg(text));
        QVERIFY(!m_comm->GetPortOpen());
        // A bad text leaves the settings before it in force.
        m_comm->SetPortOpen(true);
        QCOMPARE(m_terminal->Speed(), speed ? speed : 4800);
        QCOMPARE(m_terminal->StopBits(), stopBits);
    }

    void openErrors_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("expected");

        QTest::newRow("second open of an open port")
            << u"held"_s << u"COM7: in use by another program"_s;
        QTest::newRow("link pointing nowhere") << u"dangling"_s << u"COM7: no such port"_s;
        QTest::newRow("entry that is not a terminal")
            << u"not a terminal"_s << u"COM7: not a serial device"_s;
        QTest::newRow("entry that is a folder") << u"folder"_s << u"COM7: not a serial device"_s;
        QTest::newRow("device the user may not open")
            << u"unreadable"_s
            << u"COM7: permission denied: the user is not in the dialout group"_s;
        QTest::newRow("already open on this control")
            << u"open here"_s << u"COM7: the port is already open"_s;
    }
    void openErrors()
    {
        QFETCH(QString, situation);
        QFETCH(QString, expected);

        Prepare(u"38400,n,8,1"_s, situation == u"open here");
        const QString entry = PortDevicePath(kPort);
        CMSComm holder;
        if (situation == u"held") {
            holder.SetCommPort(kPort);
            holder.SetPortOpen(true);
        } else if (situation == u"dangling" || situation == u"not a terminal" ||
                   situation == u"folder") {
            QVERIFY(QFile::remove(entry));
            const QString target = situation == u"dangling"         ? u"/dev/pts/nonexistent"_s
                                   : situation == u"not a terminal" ? u"/dev/null"_s
                                                                    : m_home.path();
            QVERIFY(QFile::link(target, entry));
        } else if (situation == u"unreadable") {
            if (::geteuid() == 0)
                QSKIP("root opens every device; the permission check needs an ordinary user");
            QVERIFY(QFile::setPermissions(m_terminal->devicePath(), QFileDevice::ReadOwner));
        }

        QCOMPARE(ErrorOf([&] { m_comm->SetPortOpen(true); }), expected);
        QCOMPARE(m_comm->GetPortOpen(), situation == u"open here");

        if (situation == u"held") {
            // The failed opener disturbed nothing: the holder still talks to the device.
            holder.SetOutput("still here;");
            QCOMPARE(m_terminal->ReadExactly(11, 5000), QByteArray("still here;"));
        }
    }

    void portNumber_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("expected");

        QTest::newRow("first") << 1 << false << QString();
        QTest::newRow("last") << 255 << false << QString();
        QTest::newRow("zero") << 0 << false << u"COM0: port numbers run from 1 to 255"_s;
        QTest::newRow("past the last")
            << 256 << false << u"COM256: port numbers run from 1 to 255"_s;
        QTest::newRow("while open")
            << 8 << true << u"COM7: cannot change the port while it is open"_s;
    }
    void portNumber()
    {
        QFETCH(int, number);
        QFETCH(bool, open);
        QFETCH(QString, expected);

        Prepare(u"38400,n,8,1"_s, open);
        QCOMPARE(ErrorOf([&] { m_comm->SetCommPort(static_cast<short>(number)); }), expected);
        QCOMPARE(m_comm->GetCommPort(), expected.isEmpty() ? number : kPort);
        QCOMPARE(m_comm->GetPortOpen(), open);
    }

    void piecesAreSeparateWrites_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<Draws>("draws");

        QTest::newRow("first statement after open, several pieces")
            << QByteArray("MakeTestEnvironment;") << Draws{4, 0, 9, 3};
        QTest::newRow("one byte per piece") << QByteArray("Line 1,2,3,4;") << Draws(13, 13);
    }
    void piecesAreSeparateWrites()
    {
        QFETCH(QByteArray, statement);
        QFETCH(Draws, draws);

        Prepare();
        ScriptedRandom sizesRng(draws);
        const std::vector<qsizetype> sizes = SplitIntoPieces(statement.size(), sizesRng);

        // Each piece reaches the device in a call of its own before the next one is handed over:
        // nothing is held back to be merged.
        const WriteCount before = ThreadWriteCount();
        if (!before.isValid())
            QSKIP("the kernel keeps no per-thread write accounting here");
        ScriptedRandom rng(draws);
        SendInPieces(*m_comm, statement, rng);
        const WriteCount after = ThreadWriteCount();

        QCOMPARE(rng.Remaining(), 0u);
        QCOMPARE(after.calls - before.calls, qint64(sizes.size()));
        QCOMPARE(after.bytes - before.bytes, qint64(statement.size()));
        QCOMPARE(m_terminal->ReadExactly(statement.size(), 5000), statement);
        QCOMPARE(m_terminal->ReadFor(50), QByteArray());
    }

    void largePieceIsQueuedAndDeliveredWhole()
    {
        Prepare();
        const QByteArray large = Pattern(1 << 20);
        // The other end reads nothing until all calls have returned, on this same thread: had any
        // waited for the device, the test would hang here.
        const WriteCount before = ThreadWriteCount();
        m_comm->SetOutput(large);
        for (const char* piece : {"Box", "Fill 1,2,", "3,4;"})
            m_comm->SetOutput(piece);
        const WriteCount after = ThreadWriteCount();
        if (before.isValid() && after.isValid())
            QVERIFY2(after.bytes - before.bytes < large.size(),
                     "the device took the whole piece at once; nothing was queued");
        QCOMPARE(m_terminal->ReadExactly(large.size() + 16, 30000), large + "BoxFill 1,2,3,4;");
    }

    void closeStopsAtASendBoundary_data()
    {
        QTest::addColumn<bool>("otherEndReads");

        QTest::newRow("the send being written is finished, later ones dropped") << true;
        QTest::newRow("a send the device cannot take within 2 s is cut") << false;
    }
    // Two sends queued behind each other; closing at once releases the device before it returns,
    // having finished the first if it could, and says how much was dropped.
    void closeStopsAtASendBoundary()
    {
        QFETCH(bool, otherEndReads);

        Prepare();
        QSignalSpy dropped(m_comm.get(), &CMSComm::OutputDropped);
        const QByteArray large = Pattern(1 << 20);
        m_comm->SetOutput(large.first(1000));
        m_comm->SetOutput(large.sliced(1000));
        m_comm->EndSend();
        m_comm->SetOutput("BoxFill 1,2,3,4;");
        m_comm->EndSend();

        QByteArray received;
        std::atomic<bool> closed = false;
        std::thread reader([&] {
            while (otherEndReads && !closed)
                received += m_terminal->ReadFor(5);
        });
        m_comm->SetPortOpen(false);
        closed = true;
        reader.join();
        received += m_terminal->ReadFor(100);

        QVERIFY(!m_comm->GetPortOpen());
        QVERIFY(IsPortAvailable(kPort));
        QCOMPARE(received, large.first(received.size()));
        if (otherEndReads)
            QCOMPARE(received.size(), large.size());
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.first().first().toLongLong(), large.size() + 16 - received.size());
    }

    void input_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("fromThread");

        QTest::newRow("a short report") << QByteArray("\x02\x31\x03", 3) << false;
        QTest::newRow("much more than one read takes") << Pattern(200000) << false;
        QTest::newRow("a sender faster than the reader") << Pattern(1 << 20) << true;
    }
    void input()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, fromThread);

        Prepare();
        QSignalSpy events(m_comm.get(), &CMSComm::CommEvent);
        QCOMPARE(m_comm->GetCommEvent(), short(0));
        QByteArray received;
        qsizetype largestRead = 0;
        connect(m_comm.get(), &CMSComm::CommEvent, this, [&] {
            const QByteArray input = m_comm->GetInput();
            largestRead = qMax(largestRead, input.size());
            received += input;
        });

        if (fromThread) {
            std::thread writer([&] { QVERIFY(m_terminal->Write(sent)); });
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 20000);
            writer.join();
        } else {
            QVERIFY(m_terminal->Write(sent));
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 10000);
        }
        QCOMPARE(received, sent);
        QCOMPARE(m_comm->GetCommEvent(), CMSComm::kEventReceive);
        QVERIFY2(events.count() < 1 + sent.size() / 2, "an event per byte");
        // A fast sender is read in bounded bites, so no single pass of the window's event loop
        // has to show a megabyte at once.
        QVERIFY2(largestRead <= 8 * 1024, qPrintable(QString::number(largestRead)));
        QCOMPARE(m_comm->GetInput(), QByteArray());
    }

    void eachReaderGetsEveryByte_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("getInput"); // 0: no reader of it; 1: within the event; 2: outside

        QTest::newRow("Received alone, beyond what GetInput may hold back")
            << Pattern(3 << 20) << 0;
        QTest::newRow("beside GetInput within the communication event") << Pattern(1 << 20) << 1;
        QTest::newRow("beside GetInput outside the event, which reads the device itself")
            << Pattern(200000) << 2;
    }
    // The two ways of reading take nothing from each other: a console that shows the traffic
    // through the property interface and a script run that reads Received both see it all.
    void eachReaderGetsEveryByte()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, getInput);

        Prepare();
        QByteArray received;
        QByteArray input;
        connect(m_comm.get(), &CMSComm::Received, this,
                [&](const QByteArray& bytes) { received += bytes; });
        if (getInput == 1)
            connect(m_comm.get(), &CMSComm::CommEvent, this, [&] { input += m_comm->GetInput(); });

        std::thread writer([&] { QVERIFY(m_terminal->Write(sent)); });
        if (getInput == 2) {
            // No event runs meanwhile: every byte comes from GetInput's own reads.
            const QDeadlineTimer deadline(30000);
            while (input.size() < sent.size() && !deadline.hasExpired())
                input += m_comm->GetInput();
        }
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 30000);
        if (getInput != 0)
            QTRY_COMPARE_WITH_TIMEOUT(input.size(), sent.size(), 30000);
        writer.join();
        QCOMPARE(received, sent);
        if (getInput != 0)
            QCOMPARE(input, sent);
        QCOMPARE(m_comm->GetInput(), QByteArray());
    }

    void deviceLost_data()
    {
        QTest::addColumn<bool>("noticedByWriting");

        QTest::newRow("noticed while waiting for input") << false;
        QTest::newRow("noticed by a write") << true;
    }
    void deviceLost()
    {
        QFETCH(bool, noticedByWriting);

        Prepare();
        QSignalSpy lost(m_comm.get(), &CMSComm::DeviceLost);
        QSignalSpy events(m_comm.get(), &CMSComm::CommEvent);
        m_terminal->CloseMaster();
        QString thrown;
        if (noticedByWriting) {
            thrown = ErrorOf([&] { m_comm->SetOutput("Line 1,2,3,4;"); });
            QVERIFY(!m_comm->GetPortOpen());
            QCOMPARE(lost.count(), 0); // reported from the event loop, after the caller unwound
        }
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
        const QString message = lost.first().first().toString();
        QVERIFY2(message.startsWith(u"COM7: "), qPrintable(message));
        if (noticedByWriting)
            QCOMPARE(message, thrown);
        QVERIFY(!m_comm->GetPortOpen());

        // With the event loop running for a while, the dead device raises nothing more.
        QTest::qWait(500);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(events.count(), 0);
        QCOMPARE(ErrorOf([&] { m_comm->SetOutput(";"); }), u"COM7: the port is not open"_s);

        // The device comes back under the same number.
        m_terminal = std::make_unique<PseudoTerminal>();
        QVERIFY(m_terminal->PublishAs(kPort));
        m_comm->SetPortOpen(true);
        m_comm->SetOutput("Cls;");
        QCOMPARE(m_terminal->ReadExactly(4, 5000), QByteArray("Cls;"));
        QVERIFY(m_terminal->Write("x"));
        QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, 5000);
        QCOMPARE(m_comm->GetInput(), QByteArray("x"));
        QCOMPARE(lost.count(), 1);
    }

    void dropQueuedSends_data()
    {
        // Sends in order: group, then its pieces' sizes. The first, far larger than the
        // terminal takes while nobody reads, is left half written at the head of the queue.
        QTest::addColumn<QList<QList<int>>>("sends");
        QTest::addColumn<QList<int>>("arriving"); // the sends that reach the line, by index
        QTest::newRow("the group's half-written send is finished")
            << QList<QList<int>>{{1, 200000}, {1, 10}, {0, 20}, {1, 30, 40}, {0, 50}}
            << QList<int>{0, 2, 4};
        QTest::newRow("the send begun is finished to its last piece")
            << QList<QList<int>>{{1, 200000, 60, 70}, {1, 10}, {0, 20}} << QList<int>{0, 2};
        QTest::newRow("another group's send is kept")
            << QList<QList<int>>{{0, 200000}, {1, 10}, {1, 30}, {0, 20}} << QList<int>{0, 3};
        QTest::newRow("nothing of the group queued")
            << QList<QList<int>>{{0, 200000}, {0, 20}} << QList<int>{0, 1};
    }
    // Demo Off and a cancelled file drop their own queued sends and nothing else, without
    // cutting a send the device has begun.
    void dropQueuedSends()
    {
        QFETCH(QList<QList<int>>, sends);
        QFETCH(QList<int>, arriving);
        Prepare();
        std::vector<QByteArray> texts;
        qint64 groupBytes = 0;
        for (qsizetype i = 0; i < sends.size(); ++i) {
            const SendGroupScope group(*m_comm, sends[i][0]);
            QByteArray text;
            for (qsizetype p = 1; p < sends[i].size(); ++p) {
                const QByteArray piece = Pattern(sends[i][p]).replace('a', char('A' + i));
                m_comm->SetOutput(piece);
                text += piece;
            }
            m_comm->EndSend();
            texts.push_back(text);
            groupBytes += sends[i][0] == 1 ? text.size() : 0;
        }
        const qint64 groupQueued = m_comm->QueuedOutputBytes(1);
        QVERIFY(groupQueued <= groupBytes);

        QByteArray expected;
        qint64 kept = 0;
        for (int i : arriving) {
            expected += texts[i];
            kept += sends[i][0] == 1 ? texts[i].size() : 0;
        }
        QCOMPARE(m_comm->DropQueuedSends(1), groupBytes - kept);
        QCOMPARE(m_terminal->ReadExactly(expected.size(), 10000), expected);
        QCOMPARE(m_terminal->ReadFor(100), QByteArray());
        QCOMPARE(m_comm->QueuedOutputBytes(1), 0);
    }
};

QTEST_GUILESS_MAIN(tst_CMSComm)
#include "tst_cmscomm.moc"
