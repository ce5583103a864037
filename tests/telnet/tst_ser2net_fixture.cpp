// The ser2net fixture against the real server: bytes between a test's socket and its
// pseudo-terminal through both accepters, RFC 2217 speeds landing on the pseudo-terminal, and the
// behaviour of a busy or killed server that the network port's tests will build on.
#include "telnet/TelnetCodec.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/Ser2Net.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

#include <functional>

using namespace telnet;

namespace {

constexpr int kWaitMs = 10000;

QByteArray EveryByte()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    return all;
}

// A client of one accepter; on the telnet accepter the codec stands between socket and data.
class Client
{
public:
    Client(quint16 port, bool telnet) : m_telnet(telnet)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (m_socket.waitForConnected(kWaitMs) && telnet)
            Write(m_codec.Start());
    }

    bool IsConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    const QByteArray& Data() const { return m_data; }
    const std::vector<TelnetEvent>& Events() const { return m_events; }

    bool Negotiate()
    {
        return ReadUntil([&] { return m_codec.IsBinaryBothWays() && m_codec.IsComPortOn(); });
    }
    void Send(QByteArrayView data)
    {
        Write(m_telnet ? m_codec.EncodeData(data) : data.toByteArray());
    }
    void Request(const QByteArray& request) { Write(request); }
    QByteArray ReadData(qsizetype n)
    {
        ReadUntil([&] { return m_data.size() >= n; });
        return m_data;
    }
    bool WaitClosed()
    {
        return ReadUntil([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }
    // Reads until `done` holds, the connection ends or the time is up.
    bool ReadUntil(const std::function<bool()>& done)
    {
        QDeadlineTimer deadline(kWaitMs);
        while (!done()) {
            if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
                return false;
            if (m_socket.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 200))))
                Take();
        }
        return true;
    }

private:
    void Take()
    {
        const QByteArray in = m_socket.readAll();
        if (!m_telnet) {
            m_data += in;
            return;
        }
        TelnetOutput out;
        m_codec.Feed(in, out);
        m_data += out.data;
        m_events.insert(m_events.end(), out.events.begin(), out.events.end());
        Write(out.reply);
    }
    void Write(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        while (m_socket.bytesToWrite() > 0 && m_socket.waitForBytesWritten(kWaitMs)) {
        }
    }

    bool m_telnet;
    QTcpSocket m_socket;
    TelnetCodec m_codec;
    QByteArray m_data;
    std::vector<TelnetEvent> m_events;
};

} // namespace

class Ser2NetFixtureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Ser2Net::Program().isEmpty())
            QSKIP("ser2net is not installed (tools/deps.sh test installs it)");
    }

    // Each device is served on its own pair of ports.
    void everyByteBothWays_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::addColumn<int>("device");
        QTest::newRow("raw tcp, first device") << false << 0;
        QTest::newRow("telnet rfc2217, second device") << true << 1;
    }

    void everyByteBothWays()
    {
        QFETCH(bool, telnet);
        QFETCH(int, device);
        PseudoTerminal ptys[2];
        Ser2Net server({ptys[0].devicePath(), ptys[1].devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        PseudoTerminal& pty = ptys[device];

        Client client(telnet ? server.TelnetPort(device) : server.RawPort(device), telnet);
        QVERIFY(client.IsConnected());
        if (telnet)
            QVERIFY(client.Negotiate());
        client.Send(EveryByte());
        QCOMPARE(pty.ReadExactly(256, kWaitMs).toHex(' '), EveryByte().toHex(' '));
        QVERIFY(pty.Write(EveryByte()));
        QCOMPARE(client.ReadData(256).toHex(' '), EveryByte().toHex(' '));
    }

    void speedSetOverRfc2217_data()
    {
        QTest::addColumn<quint32>("baud");
        QTest::newRow("9600, a standard speed") << quint32(9600);
        QTest::newRow("115455, a 0xFF byte in the value") << quint32(0x0001C2FF);
        QTest::newRow("250000, a custom speed") << quint32(250000);
    }

    void speedSetOverRfc2217()
    {
        QFETCH(quint32, baud);
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        Client client(server.TelnetPort(), true);
        QVERIFY(client.Negotiate());

        client.Request(TelnetCodec::SetBaudRate(baud));
        const auto answered = [&] {
            for (const TelnetEvent& e : client.Events())
                if (e.IsAnswerTo(ComPortCommand::SetBaudRate))
                    return true;
            return false;
        };
        QVERIFY(client.ReadUntil(answered));
        for (const TelnetEvent& e : client.Events())
            if (e.IsAnswerTo(ComPortCommand::SetBaudRate))
                QCOMPARE(e.value, baud);
        QCOMPARE(pty.Speed(), int(baud));
    }

    void busyAccepter_data()
    {
        QTest::addColumn<bool>("kickOldUser");
        QTest::newRow("second client turned away") << false;
        QTest::newRow("kickolduser: second client takes over") << true;
    }

    void busyAccepter()
    {
        QFETCH(bool, kickOldUser);
        PseudoTerminal pty;
        Ser2NetOptions options;
        if (kickOldUser)
            options.connectionOptions << QStringLiteral("kickolduser: true");
        Ser2Net server({pty.devicePath()}, options);
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));

        Client first(server.RawPort(), false);
        first.Send("1");
        QCOMPARE(pty.ReadExactly(1, kWaitMs), QByteArray("1"));
        Client second(server.RawPort(), false);
        QVERIFY(second.IsConnected());
        Client& closed = kickOldUser ? first : second;
        Client& kept = kickOldUser ? second : first;
        QVERIFY(closed.WaitClosed());
        QCOMPARE(closed.Data(), kickOldUser ? QByteArray() : QByteArray("Port already in use\r\n"));
        kept.Send("2");
        QCOMPARE(pty.ReadExactly(1, kWaitMs), QByteArray("2"));
    }

    void killedMidRunClosesTheConnection()
    {
        PseudoTerminal pty;
        Ser2Net server({pty.devicePath()});
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        Client client(server.TelnetPort(), true);
        QVERIFY(client.Negotiate());
        server.Kill();
        QVERIFY(!server.IsRunning());
        QVERIFY(client.WaitClosed());
    }
};

QTEST_GUILESS_MAIN(Ser2NetFixtureTest)
#include "tst_ser2net_fixture.moc"
