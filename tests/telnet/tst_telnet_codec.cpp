#include "telnet/TelnetCodec.h"

#include <QTest>

using namespace telnet;

namespace {

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray EveryByte()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    return all;
}

// Events as short text, so a table row reads like the exchange and a failure shows the difference.
QByteArray Describe(const std::vector<TelnetEvent>& events)
{
    static const char* const names[] = {
        "signature",  "baud",    "datasize", "parity",   "stopsize",  "control", "linestate",
        "modemstate", "suspend", "resume",   "linemask", "modemmask", "purge"};
    QByteArrayList parts;
    for (const TelnetEvent& e : events) {
        switch (e.kind) {
        case TelnetEvent::Kind::Option:
            parts << QByteArray(e.local ? "us " : "him ") + QByteArray::number(e.option) +
                         (e.enabled ? " on" : " off");
            break;
        case TelnetEvent::Kind::ComPort:
            parts << QByteArray(names[int(e.command)]) + ' ' +
                         (e.command == ComPortCommand::Signature ? "'" + e.text + "'"
                                                                 : QByteArray::number(e.value));
            break;
        case TelnetEvent::Kind::Malformed:
            parts << "malformed " + QByteArray::number(e.option) + '/' +
                         QByteArray::number(e.value);
            break;
        case TelnetEvent::Kind::SubnegotiationTooLong:
            parts << "too long " + QByteArray::number(e.option);
            break;
        }
    }
    return parts.join("; ");
}

struct Fed
{
    QByteArray data;
    QByteArray events;
    QByteArray reply;
    bool operator==(const Fed&) const = default;
};

// Feeds `stream` cut at each of `cuts` (ascending) into a codec that has sent its opening requests.
Fed FeedInPieces(const QByteArray& stream, const std::vector<qsizetype>& cuts)
{
    TelnetCodec codec;
    codec.Start();
    TelnetOutput out;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        codec.Feed(QByteArrayView(stream).sliced(from, cut - from), out);
        from = cut;
    }
    codec.Feed(QByteArrayView(stream).sliced(from), out);
    return {out.data, Describe(out.events), out.reply};
}

// The server has agreed to everything the client asked for.
const char* const kServerAgrees = "fffb00 fffd00 fffb03 fffd03 fffd2c";

} // namespace

class TelnetCodecTest : public QObject
{
    Q_OBJECT

private slots:
    // Streams from the server after the client's opening requests.
    void decodesServerStreams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QByteArray>("reply");

        QTest::newRow("server agrees to every request")
            << Hex(kServerAgrees) << QByteArray()
            << QByteArray("him 0 on; us 0 on; him 3 on; us 3 on; us 44 on") << QByteArray();
        // What ser2net 4.3 sends on connecting, ECHO included, which is refused.
        QTest::newRow("ser2net's greeting")
            << Hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c") << QByteArray()
            << QByteArray("him 3 on; us 3 on; us 0 on; him 0 on; us 44 on") << Hex("fffe01");
        QTest::newRow("server asks first, in its own order")
            << Hex("fffd2c fffd03 fffb00 fffb03 fffd00") << QByteArray()
            << QByteArray("us 44 on; us 3 on; him 0 on; him 3 on; us 0 on") << QByteArray();
        QTest::newRow("server refuses COM-PORT-OPTION")
            << Hex("fffb00 fffd00 fffe2c") << QByteArray()
            << QByteArray("him 0 on; us 0 on; us 44 off") << QByteArray();
        QTest::newRow("server refuses binary: no answer owed")
            << Hex("fffc00 fffe00") << QByteArray() << QByteArray("him 0 off; us 0 off")
            << QByteArray();
        QTest::newRow("repeated requests are answered once")
            << Hex("fffb01 fffb01 fffd18 fffd18 fffd00 fffd00 fffb01") << QByteArray()
            << QByteArray("us 0 on") << Hex("fffe01 fffc18");
        QTest::newRow("server turns binary off, then on again")
            << Hex("fffb00 fffc00 fffc00 fffb00") << QByteArray()
            << QByteArray("him 0 on; him 0 off; him 0 on") << Hex("fffe00 fffd00");
        QTest::newRow("server offers COM-PORT-OPTION from its side: refused")
            << Hex("fffb2c") << QByteArray() << QByteArray() << Hex("fffe2c");
        QTest::newRow("refusals of unasked options need no answer")
            << Hex("fffc05 fffe05") << QByteArray() << QByteArray() << QByteArray();

        QTest::newRow("baud rate holding 0xFF bytes")
            << Hex("fffa2c 65 0001c2ffff fff0") << QByteArray() << QByteArray("baud 115455")
            << QByteArray();
        QTest::newRow("baud rate of all 0xFF")
            << Hex("fffa2c 65 ffffffffffffffff fff0") << QByteArray()
            << QByteArray("baud 4294967295") << QByteArray();
        QTest::newRow("answers to the other requests")
            << Hex("fffa2c6608fff0 fffa2c6701fff0 fffa2c6802fff0 fffa2c6901fff0 fffa2c7003fff0 "
                   "fffa2c6eff fffff0 fffa2c6f00fff0")
            << QByteArray()
            << QByteArray("datasize 8; parity 1; stopsize 2; control 1; purge 3; linemask 255; "
                          "modemmask 0")
            << QByteArray();
        QTest::newRow("signature") << Hex("fffa2c64 736572326e6574 fff0") << QByteArray()
                                   << QByteArray("signature 'ser2net'") << QByteArray();
        QTest::newRow("notifications and flow control")
            << Hex("fffa2c6a60fff0 fffa2c6bb0fff0 fffa2c6cfff0 fffa2c6dfff0") << QByteArray()
            << QByteArray("linestate 96; modemstate 176; suspend 0; resume 0") << QByteArray();

        QTest::newRow("baud rate of three bytes") << Hex("fffa2c65 00c200 fff0") << QByteArray()
                                                  << QByteArray("malformed 44/101") << QByteArray();
        QTest::newRow("one-byte answer of two bytes")
            << Hex("fffa2c66 0808 fff0") << QByteArray() << QByteArray("malformed 44/102")
            << QByteArray();
        QTest::newRow("client's code from the server")
            << Hex("fffa2c01 00002580 fff0") << QByteArray() << QByteArray("malformed 44/1")
            << QByteArray();
        QTest::newRow("unknown server code") << Hex("fffa2c71 00 fff0") << QByteArray()
                                             << QByteArray("malformed 44/113") << QByteArray();
        QTest::newRow("empty COM-PORT-OPTION subnegotiation")
            << Hex("fffa2c fff0") << QByteArray() << QByteArray("malformed 44/0") << QByteArray();
        QTest::newRow("subnegotiation of another option is dropped")
            << Hex("41 fffa18 01ffff02 fff0 42") << QByteArray("AB") << QByteArray()
            << QByteArray();
        QTest::newRow("command inside a subnegotiation ends it")
            << Hex("fffa2c6500 fffb01 41") << QByteArray("A") << QByteArray("malformed 44/101")
            << Hex("fffe01");

        QTest::newRow("other commands between data are dropped")
            << Hex("41 fff1 42 fff9 43 fff6 44 fff2 45 fff3 46 fff0 47") << QByteArray("ABCDEFG")
            << QByteArray() << QByteArray();
        QTest::newRow("doubled 0xFF is one data byte")
            << Hex("ffff 00 ffffffff") << Hex("ff00ffff") << QByteArray() << QByteArray();
        QTest::newRow("CR NUL is a bare CR before binary")
            << Hex("0d00 0d0a 0d41 0d0d00") << Hex("0d 0d0a 0d41 0d0d") << QByteArray()
            << QByteArray();
        QTest::newRow("CR NUL passes in binary")
            << Hex(kServerAgrees) + Hex("0d00 0dff ff00") << Hex("0d00 0dff00")
            << QByteArray("him 0 on; us 0 on; him 3 on; us 3 on; us 44 on") << QByteArray();
        QTest::newRow("subnegotiation past the bound: reported once, the stream goes on")
            << Hex("fffa2c65") + QByteArray(300, 'x') + Hex("ffff fff0 41 fffa2c6608fff0")
            << QByteArray("A") << QByteArray("too long 44; datasize 8") << QByteArray();
    }

    void decodesServerStreams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, reply);
        const Fed whole = FeedInPieces(stream, {});
        QCOMPARE(whole.events, events);
        QCOMPARE(whole.data, data);
        QCOMPARE(whole.reply, reply);
    }

    // State is kept between reads: any cut of the stream gives what the whole gives.
    void splitAnywhereDecodesTheSame_data() { decodesServerStreams_data(); }
    void splitAnywhereDecodesTheSame()
    {
        QFETCH(QByteArray, stream);
        const Fed whole = FeedInPieces(stream, {});
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            const Fed split = FeedInPieces(stream, {cut});
            QVERIFY2(split == whole, qPrintable(QString("cut at %1").arg(cut)));
        }
        std::vector<qsizetype> everyByte;
        for (qsizetype cut = 1; cut < stream.size(); ++cut)
            everyByte.push_back(cut);
        QVERIFY(FeedInPieces(stream, everyByte) == whole);
    }

    // Both directions: what the client encodes and what it decodes from the same bytes.
    void dataBothWays_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");

        const QByteArray all = EveryByte();
        QByteArray allBinary = all;
        allBinary.replace("\xff", "\xff\xff");
        QByteArray allText = allBinary;
        allText.replace("\r", QByteArray("\r\0", 2));

        QTest::newRow("every byte value, binary") << true << all << allBinary;
        QTest::newRow("every byte value, before binary") << false << all << allText;
        QTest::newRow("CR LF and CR NUL, binary")
            << true << Hex("0d0a 0d00 0d") << Hex("0d0a 0d00 0d");
        QTest::newRow("CR LF and CR NUL, before binary")
            << false << Hex("0d0a 0d00 0d") << Hex("0d000a 0d0000 0d00");
        QTest::newRow("run of 0xFF") << true << Hex("ffffff") << Hex("ffffffffffff");
    }

    void dataBothWays()
    {
        QFETCH(bool, binary);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        TelnetCodec codec;
        TelnetOutput out;
        codec.Start();
        if (binary)
            codec.Feed(Hex(kServerAgrees), out);
        QCOMPARE(codec.IsBinaryBothWays(), binary);
        QCOMPARE(codec.EncodeData(data), wire);
        out.clear();
        codec.Feed(wire, out);
        QCOMPARE(out.data, data);
        QVERIFY(out.events.empty());
    }

    void encodesRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("wire");

        QTest::newRow("opening requests")
            << TelnetCodec().Start() << Hex("fffb00 fffd00 fffb03 fffd03 fffb2c");
        QTest::newRow("keep-alive is NOP") << TelnetCodec::KeepAlive() << Hex("fff1");
        QTest::newRow("baud 9600")
            << TelnetCodec::SetBaudRate(9600) << Hex("fffa2c01 00002580 fff0");
        QTest::newRow("baud holding 0xFF is escaped")
            << TelnetCodec::SetBaudRate(0x0001C2FF) << Hex("fffa2c01 0001c2ffff fff0");
        QTest::newRow("baud of all 0xFF")
            << TelnetCodec::SetBaudRate(0xFFFFFFFF) << Hex("fffa2c01 ffffffffffffffff fff0");
        QTest::newRow("ask the baud rate")
            << TelnetCodec::SetBaudRate(0) << Hex("fffa2c01 00000000 fff0");
        QTest::newRow("data size 8") << TelnetCodec::SetDataSize(8) << Hex("fffa2c02 08 fff0");
        QTest::newRow("parity none")
            << TelnetCodec::SetParity(Parity::None) << Hex("fffa2c03 01 fff0");
        QTest::newRow("two stop bits")
            << TelnetCodec::SetStopSize(StopSize::Two) << Hex("fffa2c04 02 fff0");
        QTest::newRow("no flow control")
            << TelnetCodec::SetControl(Control::NoFlowControl) << Hex("fffa2c05 01 fff0");
        QTest::newRow("DTR on") << TelnetCodec::SetControl(Control::DtrOn)
                                << Hex("fffa2c05 08 fff0");
        QTest::newRow("RTS off") << TelnetCodec::SetControl(Control::RtsOff)
                                 << Hex("fffa2c05 0c fff0");
        QTest::newRow("purge both")
            << TelnetCodec::PurgeData(Purge::Both) << Hex("fffa2c0c 03 fff0");
        QTest::newRow("line-state mask 0xFF")
            << TelnetCodec::SetLineStateMask(0xFF) << Hex("fffa2c0a ffff fff0");
        QTest::newRow("signature") << TelnetCodec::RequestSignature() << Hex("fffa2c00 fff0");
    }

    void encodesRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, wire);
        QCOMPARE(request.toHex(' '), wire.toHex(' '));
    }

    // Two clients facing each other want the same of each other and refuse what only a server
    // offers: their exchange must settle, not echo forever, whether their requests cross or one
    // side only answers.
    void twoClientsSettle_data()
    {
        QTest::addColumn<bool>("bothStart");
        QTest::newRow("requests cross") << true;
        QTest::newRow("one side asks, the other answers") << false;
    }

    void twoClientsSettle()
    {
        QFETCH(bool, bothStart);
        TelnetCodec a;
        TelnetCodec b;
        QByteArray toB = a.Start();
        QByteArray toA = bothStart ? b.Start() : QByteArray();
        int rounds = 0;
        while (!toA.isEmpty() || !toB.isEmpty()) {
            QVERIFY2(++rounds < 5, "negotiation does not settle");
            TelnetOutput outA;
            TelnetOutput outB;
            a.Feed(toA, outA);
            b.Feed(toB, outB);
            toB = outA.reply;
            toA = outB.reply;
        }
        QVERIFY(a.IsBinaryBothWays() && b.IsBinaryBothWays());
        QVERIFY(!a.IsComPortOn() && !b.IsComPortOn());
    }

    // A subnegotiation that never ends costs a bounded buffer and one report, and hides no data.
    void endlessSubnegotiationStaysBounded()
    {
        TelnetCodec codec;
        TelnetOutput out;
        codec.Feed(Hex("fffa2c65"), out);
        const QByteArray chunk = QByteArray(4096, 'x') + Hex("ffff");
        for (int i = 0; i < 256; ++i)
            codec.Feed(chunk, out);
        QCOMPARE(Describe(out.events), QByteArray("too long 44"));
        QVERIFY(out.data.isEmpty());
        out.clear();
        codec.Feed(Hex("fff0 41 fffa2c6608fff0"), out);
        QCOMPARE(out.data, QByteArray("A"));
        QCOMPARE(Describe(out.events), QByteArray("datasize 8"));
    }
};

QTEST_APPLESS_MAIN(TelnetCodecTest)
#include "tst_telnet_codec.moc"
