#include "app/serial/CMSComm.h"
#include "app/serial/LineSettings.h"
#include "app/serial/Pieces.h"
#include "app/serial/PortFolder.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"
#include "tests/common/WriteCount.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#include <functional>
#include <memory>

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

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

QString Plain(const LineSettings& settings)
{
    static const char kParity[] = {'n', 'e', 'o', 'm', 's'};
    static const char* const kStopBits[] = {"1", "1.5", "2"};
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.speed)
        .arg(QLatin1Char(kParity[static_cast<int>(settings.parity)]))
        .arg(settings.dataBits)
        .arg(QLatin1String(kStopBits[static_cast<int>(settings.stopBits)]));
}

} // namespace

class tst_CMSComm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void speeds_data();
    void speeds();
    void standardSpeedAfterCustomSpeed();
    void settingsText_data();
    void settingsText();
    void settingsWhileOpen();
    void openErrors_data();
    void openErrors();
    void permissionDenied();
    void portNumber_data();
    void portNumber();
    void piecesAreSeparateWrites_data();
    void piecesAreSeparateWrites();
    void eachPieceLeavesOnItsOwnCall();
    void pieceLargerThanTheDeviceIsQueued();
    void closeKeepsWhatWasSent();
    void closeFinishesQueuedOutput();
    void input_data();
    void input();
    void deviceLost_data();
    void deviceLost();

private:
    // A pseudo-terminal published as COM7 and a control set to it, not yet open.
    void Prepare(const QString& settings = QStringLiteral("38400,n,8,1"));

    std::unique_ptr<TempConfigHome> m_home;
    std::unique_ptr<PseudoTerminal> m_terminal;
    std::unique_ptr<CMSComm> m_comm;
};

void tst_CMSComm::init()
{
    m_home = std::make_unique<TempConfigHome>();
    QVERIFY(m_home->isValid());
}

void tst_CMSComm::cleanup()
{
    m_comm.reset();
    m_terminal.reset();
    m_home.reset();
}

void tst_CMSComm::Prepare(const QString& settings)
{
    m_terminal = std::make_unique<PseudoTerminal>();
    QVERIFY(m_terminal->isOpen());
    QVERIFY(m_terminal->PublishAs(kPort));
    m_comm = std::make_unique<CMSComm>();
    m_comm->SetCommPort(kPort);
    m_comm->SetSettings(settings);
    m_comm->SetRThreshold(1);
    m_comm->SetInputMode(1);
}

void tst_CMSComm::speeds_data()
{
    QTest::addColumn<QString>("speed");
    for (int index = 0; index < 10; ++index)
        QTest::addRow("index %d", index) << GetBaudRateText(index);
}

void tst_CMSComm::speeds()
{
    QFETCH(QString, speed);
    Prepare(speed + QStringLiteral(",n,8,1"));
    m_comm->SetPortOpen(true);
    QVERIFY(m_comm->GetPortOpen());
    QCOMPARE(m_terminal->Speed(), speed.toInt());
    QCOMPARE(m_terminal->StopBits(), 1);
}

void tst_CMSComm::standardSpeedAfterCustomSpeed()
{
    Prepare(QStringLiteral("76800,n,8,1"));
    m_comm->SetPortOpen(true);
    QCOMPARE(m_terminal->Speed(), 76800);
    m_comm->SetPortOpen(false);

    // A custom input speed left on the line must not outlive a standard one.
    m_comm->SetSettings(QStringLiteral("9600,n,8,1"));
    m_comm->SetPortOpen(true);
    QCOMPARE(m_terminal->Speed(), 9600);
}

void tst_CMSComm::settingsText_data()
{
    QTest::addColumn<QString>("text");
    // The settings as understood, written back in the plain form; empty when the text is bad.
    QTest::addColumn<QString>("understood");

    QTest::newRow("console default")
        << QStringLiteral("38400,n,8,1") << QStringLiteral("38400,n,8,1");
    QTest::newRow("even parity, 7 bits, 2 stop bits")
        << QStringLiteral("28800,E,7,2") << QStringLiteral("28800,e,7,2");
    QTest::newRow("odd parity") << QStringLiteral("9600,o,8,1") << QStringLiteral("9600,o,8,1");
    QTest::newRow("mark parity") << QStringLiteral("9600,M,8,1") << QStringLiteral("9600,m,8,1");
    QTest::newRow("space parity") << QStringLiteral("9600,s,6,1") << QStringLiteral("9600,s,6,1");
    QTest::newRow("one and a half stop bits")
        << QStringLiteral("1200,n,5,1.5") << QStringLiteral("1200,n,5,1.5");
    QTest::newRow("blanks around fields")
        << QStringLiteral(" 19200 , n , 8 , 1 ") << QStringLiteral("19200,n,8,1");
    QTest::newRow("any positive speed")
        << QStringLiteral("250000,n,8,1") << QStringLiteral("250000,n,8,1");

    QTest::newRow("no speed chosen") << QStringLiteral(",n,8,1") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("speed not a number") << QStringLiteral("fast,n,8,1") << QString();
    QTest::newRow("speed zero") << QStringLiteral("0,n,8,1") << QString();
    QTest::newRow("negative speed") << QStringLiteral("-9600,n,8,1") << QString();
    QTest::newRow("signed speed") << QStringLiteral("+9600,n,8,1") << QString();
    QTest::newRow("speed too large") << QStringLiteral("99999999999,n,8,1") << QString();
    QTest::newRow("unknown parity") << QStringLiteral("9600,x,8,1") << QString();
    QTest::newRow("four data bits") << QStringLiteral("9600,n,4,1") << QString();
    QTest::newRow("nine data bits") << QStringLiteral("9600,n,9,1") << QString();
    QTest::newRow("three stop bits") << QStringLiteral("9600,n,8,3") << QString();
    QTest::newRow("field missing") << QStringLiteral("9600,n,8") << QString();
    QTest::newRow("field too many") << QStringLiteral("9600,n,8,1,1") << QString();
}

void tst_CMSComm::settingsText()
{
    QFETCH(QString, text);
    QFETCH(QString, understood);

    const auto parsed = ParseLineSettings(text);
    QCOMPARE(parsed ? Plain(*parsed) : QString(), understood);

    Prepare(QStringLiteral("4800,n,8,1"));
    const QString error = ErrorOf([&] { m_comm->SetSettings(text); });
    // A bad text leaves the settings before it in force.
    const LineSettings expected =
        ParseLineSettings(parsed ? text : QStringLiteral("4800,n,8,1")).value();
    if (!parsed) {
        QCOMPARE(error, QStringLiteral("COM7: bad settings text \"%1\"").arg(text));
        QVERIFY(!m_comm->GetPortOpen());
    } else {
        QCOMPARE(error, QString());
    }
    m_comm->SetPortOpen(true);
    QCOMPARE(m_terminal->Speed(), expected.speed);
    QCOMPARE(m_terminal->StopBits(), expected.stopBits == LineSettings::StopBits::One ? 1 : 2);
}

void tst_CMSComm::settingsWhileOpen()
{
    Prepare();
    m_comm->SetPortOpen(true);
    m_comm->SetSettings(QStringLiteral("115200,e,7,2"));
    QCOMPARE(m_terminal->Speed(), 115200);
    QCOMPARE(m_terminal->StopBits(), 2);
}

void tst_CMSComm::openErrors_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("expected");

    QTest::newRow("second open of an open port")
        << QStringLiteral("held") << QStringLiteral("COM7: in use by another program");
    QTest::newRow("link pointing nowhere")
        << QStringLiteral("dangling") << QStringLiteral("COM7: no such port");
    QTest::newRow("no entry") << QStringLiteral("missing") << QStringLiteral("COM7: no such port");
    QTest::newRow("entry that is not a terminal")
        << QStringLiteral("not a terminal") << QStringLiteral("COM7: not a serial device");
    QTest::newRow("already open on this control")
        << QStringLiteral("open here") << QStringLiteral("COM7: the port is already open");
}

void tst_CMSComm::openErrors()
{
    QFETCH(QString, situation);
    QFETCH(QString, expected);

    Prepare();
    const QString entry = PortDevicePath(kPort);
    CMSComm holder;
    if (situation == u"held") {
        holder.SetCommPort(kPort);
        holder.SetPortOpen(true);
    } else if (situation == u"dangling") {
        QVERIFY(QFile::remove(entry));
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/nonexistent"), entry));
    } else if (situation == u"missing") {
        QVERIFY(QFile::remove(entry));
    } else if (situation == u"not a terminal") {
        QVERIFY(QFile::remove(entry));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), entry));
    } else if (situation == u"open here") {
        m_comm->SetPortOpen(true);
    }

    QCOMPARE(ErrorOf([&] { m_comm->SetPortOpen(true); }), expected);
    QCOMPARE(m_comm->GetPortOpen(), situation == u"open here");

    if (situation == u"held") {
        // The failed opener disturbed nothing: the holder still talks to the device.
        holder.SetOutput("still here;");
        QCOMPARE(m_terminal->ReadExactly(11, 5000), QByteArray("still here;"));
    }
}

void tst_CMSComm::permissionDenied()
{
    if (::geteuid() == 0)
        QSKIP("root opens every device; the permission check needs an ordinary user");
    Prepare();
    QVERIFY(QFile::setPermissions(m_terminal->devicePath(), QFileDevice::ReadOwner));
    QCOMPARE(ErrorOf([&] { m_comm->SetPortOpen(true); }),
             QStringLiteral("COM7: permission denied: the user is not in the dialout group"));
    QVERIFY(!m_comm->GetPortOpen());
}

void tst_CMSComm::portNumber_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first") << 1 << false << QString();
    QTest::newRow("last") << 255 << false << QString();
    QTest::newRow("zero") << 0 << false << QStringLiteral("COM0: port numbers run from 1 to 255");
    QTest::newRow("past the last")
        << 256 << false << QStringLiteral("COM256: port numbers run from 1 to 255");
    QTest::newRow("negative") << -3 << false
                              << QStringLiteral("COM-3: port numbers run from 1 to 255");
    QTest::newRow("while open") << 8 << true
                                << QStringLiteral("COM7: cannot change the port while it is open");
}

void tst_CMSComm::portNumber()
{
    QFETCH(int, number);
    QFETCH(bool, open);
    QFETCH(QString, expected);

    Prepare();
    if (open)
        m_comm->SetPortOpen(true);
    QCOMPARE(ErrorOf([&] { m_comm->SetCommPort(static_cast<short>(number)); }), expected);
    QCOMPARE(m_comm->GetCommPort(), expected.isEmpty() ? number : kPort);
    QCOMPARE(m_comm->GetPortOpen(), open);
}

void tst_CMSComm::piecesAreSeparateWrites_data()
{
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<Draws>("draws");

    QTest::newRow("one byte") << QByteArray(";") << Draws{32767};
    QTest::newRow("first statement after open, several pieces")
        << QByteArray("MakeTestEnvironment;") << Draws{4, 0, 9, 3};
    QTest::newRow("one piece") << QByteArray("MakeTestEnvironment;") << Draws{19};
    QTest::newRow("one byte per piece") << QByteArray("Line 1,2,3,4;") << Draws(13, 13);
}

void tst_CMSComm::piecesAreSeparateWrites()
{
    QFETCH(QByteArray, statement);
    QFETCH(Draws, draws);

    Prepare();
    m_comm->SetPortOpen(true);
    ScriptedRandom rng(draws);
    const std::vector<qsizetype> sizes = SplitIntoPieces(statement.size(), rng);

    const WriteCount before = ThreadWriteCount();
    if (!before.isValid())
        QSKIP("the kernel keeps no per-thread write accounting here");
    qsizetype offset = 0;
    for (qsizetype size : sizes) {
        m_comm->SetOutput(QByteArrayView(statement).sliced(offset, size));
        offset += size;
    }
    const WriteCount after = ThreadWriteCount();

    QCOMPARE(after.calls - before.calls, qint64(sizes.size()));
    QCOMPARE(after.bytes - before.bytes, qint64(statement.size()));
    QCOMPARE(m_terminal->ReadExactly(statement.size(), 5000), statement);
    QCOMPARE(m_terminal->ReadFor(50), QByteArray());
}

void tst_CMSComm::eachPieceLeavesOnItsOwnCall()
{
    // Nothing is held back to be merged with what comes next: each piece is at the device before
    // the next one is handed over.
    Prepare();
    m_comm->SetPortOpen(true);
    const QList<QByteArray> pieces = {"Make", "T", "estEnviron", "ment;"};
    for (const QByteArray& piece : pieces) {
        m_comm->SetOutput(piece);
        QCOMPARE(m_terminal->ReadExactly(piece.size(), 5000), piece);
    }
}

void tst_CMSComm::pieceLargerThanTheDeviceIsQueued()
{
    Prepare();
    m_comm->SetPortOpen(true);
    const QByteArray large = Pattern(1 << 20);
    const QList<QByteArray> behind = {"Box", "Fill 1,2,", "3,4;"};

    // The other end reads nothing until both calls have returned, on this same thread: had either
    // waited for the device, the test would hang here.
    const WriteCount before = ThreadWriteCount();
    m_comm->SetOutput(large);
    for (const QByteArray& piece : behind)
        m_comm->SetOutput(piece);
    const WriteCount after = ThreadWriteCount();
    if (before.isValid() && after.isValid())
        QVERIFY2(after.bytes - before.bytes < large.size(),
                 "the device took the whole piece at once; nothing was queued");

    QByteArray received;
    while (received.size() < large.size()) {
        const QByteArray chunk = m_terminal->ReadExactly(4096, 5000);
        QVERIFY2(!chunk.isEmpty(), "output stopped coming");
        received += chunk;
    }
    received += m_terminal->ReadExactly(large.size() + 16 - received.size(), 5000);
    QCOMPARE(received.size(), large.size() + 16);
    QVERIFY(received.startsWith(large));
    QCOMPARE(received.sliced(large.size()), QByteArray("BoxFill 1,2,3,4;"));
}

void tst_CMSComm::closeKeepsWhatWasSent()
{
    Prepare();
    m_comm->SetPortOpen(true);
    m_comm->SetOutput("Cls;");
    m_comm->SetPortOpen(false);
    QVERIFY(!m_comm->GetPortOpen());
    QCOMPARE(m_terminal->ReadExactly(4, 5000), QByteArray("Cls;"));

    // The lock went with the close: the port opens again at once.
    QVERIFY(IsPortAvailable(kPort));
    m_comm->SetPortOpen(true);
    QVERIFY(m_comm->GetPortOpen());
}

void tst_CMSComm::closeFinishesQueuedOutput()
{
    Prepare();
    m_comm->SetPortOpen(true);
    const QByteArray large = Pattern(1 << 20) + "End;";
    m_comm->SetOutput(large);
    m_comm->SetPortOpen(false);
    QVERIFY(!m_comm->GetPortOpen());

    QCOMPARE(m_terminal->ReadExactly(large.size(), 30000), large);
    QTRY_VERIFY_WITH_TIMEOUT(IsPortAvailable(kPort), 10000);
}

void tst_CMSComm::input_data()
{
    QTest::addColumn<short>("threshold");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("a short report") << short(1) << QByteArray("\x02\x31\x03", 3);
    QTest::newRow("much more than one read takes") << short(1) << Pattern(200000);
    QTest::newRow("no events with threshold 0, input still there") << short(0) << Pattern(300);
}

void tst_CMSComm::input()
{
    QFETCH(short, threshold);
    QFETCH(QByteArray, sent);

    Prepare();
    m_comm->SetRThreshold(threshold);
    m_comm->SetPortOpen(true);
    QSignalSpy events(m_comm.get(), &CMSComm::CommEvent);
    QCOMPARE(m_comm->GetCommEvent(), short(0));

    QByteArray received;
    connect(m_comm.get(), &CMSComm::CommEvent, this, [&] { received += m_comm->GetInput(); });
    QVERIFY(m_terminal->Write(sent));
    if (threshold > 0) {
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 10000);
        QCOMPARE(m_comm->GetCommEvent(), CMSComm::kEventReceive);
        QVERIFY2(events.count() < 1 + sent.size() / 2, "an event per byte");
    } else {
        QTRY_COMPARE_WITH_TIMEOUT((received += m_comm->GetInput()).size(), sent.size(), 10000);
        QCOMPARE(events.count(), 0);
        QCOMPARE(m_comm->GetCommEvent(), short(0));
    }
    QCOMPARE(received, sent);
    QCOMPARE(m_comm->GetInput(), QByteArray());
}

void tst_CMSComm::deviceLost_data()
{
    QTest::addColumn<bool>("noticedByWriting");

    QTest::newRow("noticed while waiting for input") << false;
    QTest::newRow("noticed by a write") << true;
}

void tst_CMSComm::deviceLost()
{
    QFETCH(bool, noticedByWriting);

    Prepare();
    m_comm->SetPortOpen(true);
    QSignalSpy lost(m_comm.get(), &CMSComm::DeviceLost);
    QSignalSpy events(m_comm.get(), &CMSComm::CommEvent);

    m_terminal->CloseMaster();
    QString thrown;
    if (noticedByWriting) {
        thrown = ErrorOf([&] { m_comm->SetOutput("Line 1,2,3,4;"); });
        QVERIFY(thrown.startsWith(u"COM7: "));
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
    QCOMPARE(m_comm->GetInput(), QByteArray());
    QCOMPARE(ErrorOf([&] { m_comm->SetOutput(";"); }),
             QStringLiteral("COM7: the port is not open"));
    m_comm->SetPortOpen(false);

    // The device comes back under the same number.
    m_terminal = std::make_unique<PseudoTerminal>();
    QVERIFY(m_terminal->PublishAs(kPort));
    m_comm->SetPortOpen(true);
    QVERIFY(m_comm->GetPortOpen());
    m_comm->SetOutput("Cls;");
    QCOMPARE(m_terminal->ReadExactly(4, 5000), QByteArray("Cls;"));
    QVERIFY(m_terminal->Write("x"));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, 5000);
    QCOMPARE(m_comm->GetInput(), QByteArray("x"));
    QCOMPARE(lost.count(), 1);
}

QTEST_GUILESS_MAIN(tst_CMSComm)
#include "tst_cmscomm.moc"
