// The serial control on ports a real ser2net exports on loopback, in front of pseudo-terminals the
// test holds: the bytes, the settings, the failures and a port shared by two controls.
#include "serial/CMSComm.h"
#include "serial/FileSender.h"
#include "serial/NetworkAddress.h"
#include "serial/PortFolder.h"
#include "support/Paths.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/Ser2Net.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 20000;

QByteArray EveryByte()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    return all;
}

// A loopback port nobody listens on, as the kernel just found it.
quint16 UnusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

QString Address(bool telnet, quint16 port)
{
    return (telnet ? u"rfc2217://127.0.0.1:"_s : u"socket://127.0.0.1:"_s) + QString::number(port);
}

// A control on `address`, its received bytes gathered.
struct Control
{
    CMSComm comm;
    QByteArray received;
    QSignalSpy connected{&comm, &CMSComm::Connected};
    QSignalSpy lost{&comm, &CMSComm::DeviceLost};

    explicit Control(const QString& address, const QString& settings = u"115200,n,8,1"_s)
    {
        QObject::connect(&comm, &CMSComm::Received,
                         [this](const QByteArray& bytes) { received += bytes; });
        comm.SetDevicePath(address);
        comm.SetSettings(settings);
    }
    QString LostMessage() const { return lost.isEmpty() ? QString() : lost[0][0].toString(); }
};

} // namespace

class tst_NetworkPort : public QObject
{
    Q_OBJECT

    TempConfigHome m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        if (Ser2Net::Program().isEmpty())
            QSKIP("ser2net is not installed (tools/deps.sh test installs it)");
    }

    void parseAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("rfc2217");
        QTest::addColumn<QString>("endpoint");
        QTest::newRow("raw by name")
            << u"socket://rack1:7001"_s << true << false << u"rack1:7001"_s;
        QTest::newRow("rfc2217, scheme in capitals")
            << u"RFC2217://10.0.0.5:65535"_s << true << true << u"10.0.0.5:65535"_s;
        QTest::newRow("IPv6 in brackets")
            << u"rfc2217://[::1]:7001"_s << true << true << u"[::1]:7001"_s;
        QTest::newRow("IPv6 without brackets") << u"socket://::1:7001"_s << false << false << u""_s;
        QTest::newRow("no port") << u"socket://rack1"_s << false << false << u""_s;
        QTest::newRow("port 0") << u"socket://rack1:0"_s << false << false << u""_s;
        QTest::newRow("port beyond 65535") << u"socket://rack1:65536"_s << false << false << u""_s;
        QTest::newRow("no host") << u"rfc2217://:7001"_s << false << false << u""_s;
        QTest::newRow("options after the port are refused, not ignored")
            << u"rfc2217://rack1:7001?timeout=3"_s << false << false << u""_s;
        QTest::newRow("another scheme") << u"telnet://rack1:23"_s << false << false << u""_s;
    }
    void parseAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(bool, rfc2217);
        QFETCH(QString, endpoint);
        const auto address = ParseNetworkAddress(text);
        QCOMPARE(address.has_value(), valid);
        if (!valid)
            return;
        QCOMPARE(address->kind == NetworkAddress::Kind::Rfc2217, rfc2217);
        QCOMPARE(address->Endpoint(), endpoint);
    }

    // Output handed over while connecting waits, in order, and goes once connected.
    void everyByteBothWays_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::addColumn<bool>("throughFolder");
        QTest::newRow("raw, named directly") << false << false;
        QTest::newRow("rfc2217, through a port folder entry") << true << true;
    }
    void everyByteBothWays()
    {
        QFETCH(bool, telnet);
        QFETCH(bool, throughFolder);
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        const QString address = Address(telnet, telnet ? server.TelnetPort() : server.RawPort());

        Control control(throughFolder ? QString() : address);
        if (throughFolder) {
            QVERIFY(QDir().mkpath(GetPortFolderPath()));
            QFile::remove(PortDevicePath(12));
            QCOMPARE(::symlink(address.toUtf8().constData(),
                               QFile::encodeName(PortDevicePath(12)).constData()),
                     0);
            control.comm.SetCommPort(12);
        }
        control.comm.SetPortOpen(true);
        QVERIFY(control.comm.GetPortOpen());
        QVERIFY(control.comm.IsConnecting());
        control.comm.SetOutput(EveryByte().first(128));
        control.comm.SetOutput(EveryByte().sliced(128));
        control.comm.EndSend();
        QCOMPARE(control.comm.QueuedOutputBytes(), 256);

        QCOMPARE(pty.ReadExactly(256, kWaitMs).toHex(' '), EveryByte().toHex(' '));
        QCOMPARE(control.connected.count(), 1);
        QVERIFY(!control.comm.IsConnecting());
        QVERIFY(pty.Write(EveryByte()));
        QTRY_COMPARE_WITH_TIMEOUT(control.received.toHex(' '), EveryByte().toHex(' '), kWaitMs);
        QCOMPARE(control.lost.count(), 0);
    }

    // A file larger than every buffer on the way, a third of it 0xFF: the line fills, writes are
    // cut short, escapes are cut in two, and the device still gets the file byte for byte.
    void fileArrivesWhole_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("raw") << false;
        QTest::newRow("rfc2217") << true;
    }
    void fileArrivesWhole()
    {
        QFETCH(bool, telnet);
        QByteArray content(8 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = i % 3 == 0 ? char(0xFF) : char(i * 7 / 3);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"all.bin"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        Control control(Address(telnet, telnet ? server.TelnetPort() : server.RawPort()));
        control.comm.SetPortOpen(true);
        FileSender sender(control.comm);
        QSignalSpy finished(&sender, &FileSender::Finished);
        QCOMPARE(sender.Start(file.fileName(), 11520), QString());
        // The device is not read until the socket is full.
        QTRY_VERIFY_WITH_TIMEOUT(control.comm.ShortWrites() > 0, kWaitMs);

        const QByteArray arrived = pty.ReadExactly(content.size(), 60000);
        QCOMPARE(arrived.size(), content.size());
        QVERIFY(arrived == content);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
        QCOMPARE(finished[0][0].value<FileSender::Outcome>(), FileSender::Outcome::Sent);
    }

    void settingsReachTheTerminal_data()
    {
        QTest::addColumn<QString>("atOpen");
        QTest::addColumn<QString>("later");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("speed and stop bits at open") << u"57600,n,8,2"_s << u""_s << 57600 << 2;
        QTest::newRow("a custom speed set while open")
            << u"9600,n,8,1"_s << u"250000,n,8,1"_s << 250000 << 1;
        QTest::newRow("a speed with 0xFF in its value, while open")
            << u"9600,n,8,2"_s << u"115455,n,8,1"_s << 115455 << 1;
    }
    void settingsReachTheTerminal()
    {
        QFETCH(QString, atOpen);
        QFETCH(QString, later);
        QFETCH(int, speed);
        QFETCH(int, stopBits);
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        Control control(Address(true, server.TelnetPort()), atOpen);
        control.comm.SetPortOpen(true);
        QTRY_COMPARE_WITH_TIMEOUT(control.connected.count(), 1, kWaitMs);
        if (!later.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(pty.Speed(), atOpen.section(u',', 0, 0).toInt(), kWaitMs);
            control.comm.SetSettings(later);
        }
        QTRY_COMPARE_WITH_TIMEOUT(pty.Speed(), speed, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(pty.StopBits(), stopBits, kWaitMs);
        QCOMPARE(control.lost.count(), 0);
    }

    // ser2net cannot set a pseudo-terminal's modem lines and leaves those requests unanswered:
    // the port goes on and says so once.
    void unansweredRequestNotedOnce()
    {
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        Control control(Address(true, server.TelnetPort()));
        QSignalSpy notices(&control.comm, &CMSComm::Notice);
        control.comm.SetPortOpen(true);
        control.comm.SetOutput("Line 1,1,2,2;");
        QCOMPARE(pty.ReadExactly(13, kWaitMs), QByteArray("Line 1,1,2,2;"));
        QTRY_COMPARE_WITH_TIMEOUT(notices.count(), 1, kWaitMs);
        const QString note = notices[0][0].toString();
        QVERIFY2(note.contains(u"127.0.0.1:%1"_s.arg(server.TelnetPort())) &&
                     note.contains(u"DTR on"_s) && !note.contains(u"speed"_s),
                 qPrintable(note));
        control.comm.SetSettings(u"19200,n,8,1"_s);
        QTRY_COMPARE_WITH_TIMEOUT(pty.Speed(), 19200, kWaitMs);
        QCOMPARE(notices.count(), 1);
        QVERIFY(control.comm.GetPortOpen());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("telnet");
        QTest::addColumn<QString>("cause");
        QTest::newRow("refused") << u"refused"_s << false << u"Connection refused"_s;
        QTest::newRow("unknown host") << u"unknown host"_s << true << u"cannot connect"_s;
        QTest::newRow("a listener that never negotiates")
            << u"silent"_s << true << u"did not negotiate"_s;
        QTest::newRow("raw: server killed mid-session")
            << u"killed"_s << false << u"the connection to"_s;
        QTest::newRow("rfc2217: server killed mid-session")
            << u"killed"_s << true << u"the connection to"_s;
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(bool, telnet);
        QFETCH(QString, cause);
        PseudoTerminal pty;
        std::unique_ptr<Ser2Net> server;
        QTcpServer silent;
        QString endpoint;
        if (kind == u"refused") {
            endpoint = u"127.0.0.1:%1"_s.arg(UnusedPort());
        } else if (kind == u"unknown host") {
            endpoint = u"no-such-host.invalid:7001"_s;
        } else if (kind == u"silent") {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            endpoint = u"127.0.0.1:%1"_s.arg(silent.serverPort());
        } else {
            server = std::make_unique<Ser2Net>(QStringList{pty.devicePath()});
            QVERIFY2(server->IsRunning(), qPrintable(server->Error()));
            endpoint = u"127.0.0.1:%1"_s.arg(telnet ? server->TelnetPort() : server->RawPort());
        }
        Control control((telnet ? u"rfc2217://"_s : u"socket://"_s) + endpoint);
        QElapsedTimer opening;
        opening.start();
        control.comm.SetPortOpen(true);
        // Opening never waits for the network (a wide bound: a loaded machine).
        QVERIFY(opening.elapsed() < 1000);
        if (kind == u"killed") {
            QTRY_COMPARE_WITH_TIMEOUT(control.connected.count(), 1, kWaitMs);
            control.comm.SetOutput("x");
            QCOMPARE(pty.ReadExactly(1, kWaitMs), QByteArray("x"));
            server->Kill();
        }
        QTRY_COMPARE_WITH_TIMEOUT(control.lost.count(), 1, kWaitMs);
        const QString message = control.LostMessage();
        QVERIFY2(message.contains(endpoint) && message.contains(cause), qPrintable(message));
        QVERIFY(!control.comm.GetPortOpen());
        QVERIFY(!control.comm.IsConnecting());
        QVERIFY_THROWS_EXCEPTION(CommError, control.comm.SetOutput("y"));
    }

    // Two controls on one exported port: the second is turned away, or takes the port over from
    // the first as kickolduser says; the device sees the bytes of one control at a time.
    void twoControlsOnOnePort_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::addColumn<bool>("kickOldUser");
        QTest::newRow("raw: the second is turned away") << false << false;
        QTest::newRow("rfc2217: the second is turned away") << true << false;
        QTest::newRow("raw, kickolduser: the second takes over") << false << true;
    }
    void twoControlsOnOnePort()
    {
        QFETCH(bool, telnet);
        QFETCH(bool, kickOldUser);
        PseudoTerminal pty;
        Ser2NetOptions options;
        if (kickOldUser)
            options.connectionOptions << u"kickolduser: true"_s;
        Ser2Net server({pty.devicePath()}, options);
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        const QString address = Address(telnet, telnet ? server.TelnetPort() : server.RawPort());

        Control first(address);
        first.comm.SetPortOpen(true);
        first.comm.SetOutput("first;");
        QCOMPARE(pty.ReadExactly(6, kWaitMs), QByteArray("first;"));
        Control second(address);
        second.comm.SetPortOpen(true);
        second.comm.SetOutput("second;");
        Control& turnedAway = kickOldUser ? first : second;
        Control& kept = kickOldUser ? second : first;
        QTRY_COMPARE_WITH_TIMEOUT(turnedAway.lost.count(), 1, kWaitMs);
        if (!kickOldUser)
            QVERIFY2(turnedAway.LostMessage().contains(u"Port already in use"_s),
                     qPrintable(turnedAway.LostMessage()));
        if (kickOldUser)
            QCOMPARE(pty.ReadExactly(7, kWaitMs), QByteArray("second;"));
        kept.comm.SetOutput("kept;");
        QCOMPARE(pty.ReadExactly(5, kWaitMs), QByteArray("kept;"));
        QVERIFY(pty.Write("answer"));
        QTRY_COMPARE_WITH_TIMEOUT(kept.received, QByteArray("answer"), kWaitMs);
        QVERIFY(kept.comm.GetPortOpen());
        QCOMPARE(kept.lost.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkPort)
#include "tst_network_port.moc"
