// The Telnet codec on any byte stream from a server, split anywhere: the data, events and replies
// must not depend on the split, the output stays within its bounds, data encoded for the server
// decodes back to itself even when a read ends inside any of its escapes, a subnegotiation that
// never ends yields one event and no data however long it runs and leaves the stream in step, and
// a baud rate sent as a request reads back from the server's answer.
#include "fuzz/FuzzData.h"
#include "telnet/TelnetCodec.h"

using telnet::TelnetCodec;
using telnet::TelnetEvent;
using telnet::TelnetOutput;

namespace {

// The server's agreement to every opening request.
const char kServerAgrees[] = "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfd\x2c";

TelnetCodec Opened(bool binary)
{
    TelnetCodec codec;
    codec.Start();
    if (binary) {
        TelnetOutput out;
        codec.Feed(QByteArrayView(kServerAgrees, sizeof kServerAgrees - 1), out);
    }
    return codec;
}

bool Same(const TelnetOutput& a, const TelnetOutput& b)
{
    return a.data == b.data && a.events == b.events && a.reply == b.reply;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    const QByteArrayView stream = input.Rest();
    const bool binary = mode & 1;

    TelnetCodec whole = Opened(binary);
    TelnetOutput all;
    whole.Feed(stream, all);

    TelnetCodec halves = Opened(binary);
    TelnetOutput split;
    const qsizetype at = stream.size() * (mode >> 1) / 127;
    halves.Feed(stream.first(at), split);
    halves.Feed(stream.sliced(at), split);
    FUZZ_CHECK(Same(all, split));

    TelnetCodec pieces = Opened(binary);
    TelnetOutput small;
    const qsizetype step = 1 + mode % 5;
    for (qsizetype from = 0; from < stream.size(); from += step)
        pieces.Feed(stream.sliced(from, std::min(step, stream.size() - from)), small);
    FUZZ_CHECK(Same(all, small));

    FUZZ_CHECK(all.data.size() <= stream.size());
    FUZZ_CHECK(all.reply.size() <= stream.size());
    FUZZ_CHECK(qsizetype(all.events.size()) <= stream.size() / 3);
    for (const TelnetEvent& e : all.events)
        FUZZ_CHECK(e.text.size() <= TelnetCodec::kMaxSubnegotiation);

    // Whatever the stream did to the options, data sent now arrives as it was at a peer whose
    // receiving side is in the same mode as this sending side.
    TelnetCodec receiver = Opened(whole.IsEnabled(telnet::option::kBinary, true));
    TelnetOutput received;
    receiver.Feed(whole.EncodeData(stream), received);
    FUZZ_CHECK(received.data == stream.toByteArray());
    FUZZ_CHECK(received.events.empty() && received.reply.isEmpty());

    // A read may end between the two bytes of any escaped 0xFF, and the escape stays whole.
    if (stream.size() <= 64) {
        const QByteArray encoded = Opened(true).EncodeData(stream);
        for (qsizetype at = 0; at <= encoded.size(); ++at) {
            TelnetCodec codec = Opened(true);
            TelnetOutput out;
            codec.Feed(QByteArrayView(encoded).first(at), out);
            codec.Feed(QByteArrayView(encoded).sliced(at), out);
            FUZZ_CHECK(out.data == stream.toByteArray() && out.events.empty());
        }
    }

    // The stream as the body of a COM-PORT subnegotiation that runs on past every bound before
    // its end comes: nothing of it is data, at most one event reports it, and what follows the
    // end is data again.
    {
        TelnetCodec codec = Opened(binary);
        TelnetOutput out;
        codec.Feed("\xff\xfa\x2c", out);
        const QByteArray body = Opened(true).EncodeData(stream);
        for (qsizetype fed = 0; fed <= TelnetCodec::kMaxSubnegotiation && !body.isEmpty();
             fed += body.size())
            codec.Feed(body, out);
        FUZZ_CHECK(out.data.isEmpty() && out.reply.isEmpty() && out.events.size() <= 1);
        out.clear();
        codec.Feed("\xff\xf0ok", out);
        FUZZ_CHECK(out.data == "ok");
    }

    if (stream.size() >= 4) {
        quint32 baud = 0;
        for (int i = 0; i < 4; ++i)
            baud = (baud << 8) | quint8(stream[i]);
        QByteArray answer = TelnetCodec::SetBaudRate(baud);
        answer[3] = char(answer[3] + telnet::kServerCodeOffset);
        TelnetCodec client = Opened(binary);
        TelnetOutput out;
        client.Feed(answer, out);
        FUZZ_CHECK(out.events.size() == 1 &&
                   out.events[0].IsAnswerTo(telnet::ComPortCommand::SetBaudRate) &&
                   out.events[0].value == baud);
    }
    return 0;
}
