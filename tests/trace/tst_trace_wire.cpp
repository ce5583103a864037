// The trace wire form: frames read back whole however the stream is split, malformed frames
// reported in their place, and a stream that cannot be followed given up at once.
#include "trace/TraceFrame.h"

#include <QTest>

using trace_wire::EncodeFrame;
using trace_wire::Frame;
using trace_wire::FrameReader;
using trace_wire::kMaxFrameBytes;

namespace {

QByteArray Header(quint32 length)
{
    QByteArray header;
    for (int shift = 0; shift < 32; shift += 8)
        header.append(static_cast<char>(length >> shift));
    return header;
}

// Each frame as "cmd:<bytes>" or "fault", the way a row states what it expects.
QStringList Describe(const std::vector<Frame>& frames)
{
    QStringList out;
    for (const Frame& f : frames)
        out << (f.IsFault() ? QStringLiteral("fault") : "cmd:" + QString::fromLatin1(f.command));
    return out;
}

} // namespace

class TraceWireTest : public QObject
{
    Q_OBJECT

private slots:
    void streamReadsTheSameAtEverySplit_data();
    void streamReadsTheSameAtEverySplit();
    void longCommandIsCutToTheLimit();
};

void TraceWireTest::streamReadsTheSameAtEverySplit_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<bool>("broken");
    QTest::addColumn<bool>("unfinished");

    QTest::newRow("three commands, one empty")
        << EncodeFrame("xta1:abc") + EncodeFrame("") + EncodeFrame("xtc")
        << QStringList{"cmd:xta1:abc", "cmd:", "cmd:xtc"} << false << false;
    QTest::newRow("text after an inner NUL is not part of the command")
        << EncodeFrame(QByteArray("xta1:ab\0cd", 10)) << QStringList{"cmd:xta1:ab"} << false
        << false;
    QTest::newRow("frames without their NUL are faults in place")
        << Header(0) + Header(3) + "abc" + EncodeFrame("xta1:ok")
        << QStringList{"fault", "fault", "cmd:xta1:ok"} << false << false;
    QTest::newRow("largest frame taken")
        << Header(kMaxFrameBytes) + QByteArray(kMaxFrameBytes - 1, 'x') + '\0' + EncodeFrame("ok")
        << QStringList{"cmd:" + QString(kMaxFrameBytes - 1, u'x'), "cmd:ok"} << false << false;
    QTest::newRow("a byte above the limit ends the stream")
        << EncodeFrame("xta1:a") + Header(kMaxFrameBytes + 1) + EncodeFrame("xta1:lost")
        << QStringList{"cmd:xta1:a", "fault"} << true << false;
    QTest::newRow("ends inside a header")
        << EncodeFrame("xta1:a") + Header(9).left(2) << QStringList{"cmd:xta1:a"} << false << true;
    QTest::newRow("ends inside a payload") << Header(9) + "xta1" << QStringList{} << false << true;
}

void TraceWireTest::streamReadsTheSameAtEverySplit()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, frames);
    QFETCH(bool, broken);
    QFETCH(bool, unfinished);

    // The large rows would take long byte by byte; splits near the ends and every frame
    // boundary are where readers go wrong.
    for (qsizetype split = 0; split <= stream.size();
         split += split < 64 || split > stream.size() - 64 ? 1 : 997) {
        FrameReader reader;
        std::vector<Frame> got = reader.Feed(QByteArrayView(stream).first(split));
        for (Frame& f : reader.Feed(QByteArrayView(stream).sliced(split)))
            got.push_back(std::move(f));
        QCOMPARE(Describe(got), frames);
        QCOMPARE(reader.IsBroken(), broken);
        QCOMPARE(!reader.UnfinishedFault().isEmpty(), unfinished);
    }

    FrameReader byByte;
    std::vector<Frame> got;
    if (stream.size() < 1000) {
        for (char c : stream)
            for (Frame& f : byByte.Feed(QByteArrayView(&c, 1)))
                got.push_back(std::move(f));
        QCOMPARE(Describe(got), frames);
    }
}

void TraceWireTest::longCommandIsCutToTheLimit()
{
    const QByteArray frame = EncodeFrame(QByteArray(kMaxFrameBytes + 10, 'y'));
    QCOMPARE(frame.size(), 4 + kMaxFrameBytes);
    QCOMPARE(frame.left(4), Header(kMaxFrameBytes));
    QCOMPARE(frame.back(), '\0');
}

QTEST_APPLESS_MAIN(TraceWireTest)
#include "tst_trace_wire.moc"
