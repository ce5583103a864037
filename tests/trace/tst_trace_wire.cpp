// The trace wire form: frames read back whole however the stream is split, malformed frames
// reported in their place, and a stream that cannot be followed given up at once.
#include "trace/TraceFrame.h"

#include <QTest>

using namespace trace_wire;

namespace {

QByteArray Header(quint32 length)
{
    QByteArray header;
    for (int shift = 0; shift < 32; shift += 8)
        header.append(static_cast<char>(length >> shift));
    return header;
}

} // namespace

class TraceWireTest : public QObject
{
    Q_OBJECT

private slots:
    void streamReadsTheSameAtEverySplit_data();
    void streamReadsTheSameAtEverySplit();
};

void TraceWireTest::streamReadsTheSameAtEverySplit_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames"); // "cmd:<command>" or "fault"
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
    QTest::newRow("a command past the limit is cut to it")
        << EncodeFrame(QByteArray(kMaxFrameBytes + 10, 'y')) + EncodeFrame("ok")
        << QStringList{"cmd:" + QString(kMaxFrameBytes - 1, u'y'), "cmd:ok"} << false << false;
    QTest::newRow("a length past the limit ends the stream")
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

    // Every split near the ends, where the headers are, and a sample through the long rows.
    for (qsizetype split = 0; split <= stream.size();
         split += split < 64 || split > stream.size() - 64 ? 1 : 997) {
        FrameReader reader;
        std::vector<Frame> got = reader.Feed(QByteArrayView(stream).first(split));
        for (Frame& f : reader.Feed(QByteArrayView(stream).sliced(split)))
            got.push_back(std::move(f));
        QStringList described;
        for (const Frame& f : got)
            described << (f.IsFault() ? QStringLiteral("fault")
                                      : "cmd:" + QString::fromLatin1(f.command));
        QCOMPARE(described, frames);
        QCOMPARE(reader.IsBroken(), broken);
        QCOMPARE(!reader.UnfinishedFault().isEmpty(), unfinished);
    }
}

QTEST_APPLESS_MAIN(TraceWireTest)
#include "tst_trace_wire.moc"
