#include "tests/common/ReportDisplay.h"

#include <QTest>

#include <algorithm>

namespace {

QByteArray Shown(const std::vector<ColoredText>& pieces)
{
    QByteArray all;
    for (const ColoredText& piece : pieces)
        all += piece.text;
    return all;
}

// How the receive view shows the bytes themselves: two upper-case digits and a blank each.
QByteArray Dump(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper();
}

QByteArray Binary(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// A text-form report: the nine characters of positions 1 to 9, framed.
QByteArray Text(const char* positions1to9)
{
    const QByteArray body(positions1to9, 9);
    return "\x02" + body + "\x03";
}

// Everything the decoder says of a report, its end counted from `base`, in one comparable line.
QByteArray Fields(const DecodedReport& report, qsizetype base = 0)
{
    QByteArray line = QByteArray::number(base + report.end) + " code " +
                      QByteArray::number(report.code, 16) + (report.binary ? " binary" : " text") +
                      (report.damaged ? " damaged" : "") + (report.event ? " known" : " unknown") +
                      " state " + QByteArray::number(report.state) + " values";
    for (int i = 0; i < report.valueCount; ++i)
        line += ' ' + QByteArray::number(report.values[static_cast<std::size_t>(i)]);
    line +=
        " raw " +
        QByteArray(reinterpret_cast<const char*>(report.raw.data()), report.rawLength).toHex(' ');
    return line + " text " + report.Text().toByteArray();
}

QList<QByteArray> AllFields(const DecodedRead& read, qsizetype base = 0)
{
    QList<QByteArray> all;
    for (const qsizetype start : read.starts)
        all << "start " + QByteArray::number(base + start);
    for (const DecodedReport& report : read.reports)
        all << Fields(report, base);
    return all;
}

// Three draws per report start; the tests check that every one was used and no more was asked.
ScriptedRandom DrawsFor(int reports)
{
    return ScriptedRandom(std::vector<int>(static_cast<std::size_t>(reports) * 3, 0));
}

void AddEventRows()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("decoded");

    QTest::newRow("binary click down")
        << Binary("0281050100000003") << QByteArray(" : $on_click (down : ctrl 5)\r\n");
    QTest::newRow("binary click up")
        << Binary("02810C0000000003") << QByteArray(" : $on_click (up : ctrl 12)\r\n");
    QTest::newRow("binary click state 2")
        << Binary("0281050200000003") << QByteArray(" : $on_click (?)\r\n");
    QTest::newRow("binary check on")
        << Binary("02820A0100000003") << QByteArray(" : $on_check (on : ctrl 10)\r\n");
    QTest::newRow("binary check off")
        << Binary("02820A0000000003") << QByteArray(" : $on_check (off : ctrl 10)\r\n");
    QTest::newRow("binary position 16-bit high first")
        << Binary("028305012C000003") << QByteArray(" : $on_position (ctrl 5 : 300)\r\n");
    QTest::newRow("binary touch down")
        << Binary("028401012C00F003") << QByteArray(" : $on_touch (down : 300,240)\r\n");
    QTest::newRow("binary touch up")
        << Binary("028400FFFF000003") << QByteArray(" : $on_touch (up : 65535,0)\r\n");
    QTest::newRow("binary key 0x81 shows as in the dump")
        << Binary("0285810000000003") << QByteArray(" : $on_key_press (ascii code=&H81)\r\n");
    QTest::newRow("binary key 0x0A")
        << Binary("02850A0000000003") << QByteArray(" : $on_key_press (ascii code=&H0A)\r\n");
    QTest::newRow("binary date") << Binary("028607D804190003")
                                 << QByteArray(" : $on_date (2008/4/25)\r\n");
    QTest::newRow("binary time") << Binary("0287090503000003")
                                 << QByteArray(" : $on_time (09:05:03)\r\n");
    QTest::newRow("binary time above 99 keeps two digits")
        << Binary("02877B00FF000003") << QByteArray(" : $on_time (23:00:55)\r\n");
    QTest::newRow("binary buffer warning")
        << Binary("0288000000000003") << QByteArray(" : $on_buffer_warning\r\n");
    QTest::newRow("binary buffer overflow")
        << Binary("0289000000000003") << QByteArray(" : $on_buffer_overflow\r\n");
    QTest::newRow("binary lcd state")
        << Binary("028A000000000003") << QByteArray(" : $on_lcd_state\r\n");
    QTest::newRow("binary checksum error")
        << Binary("028B000000000003") << QByteArray(" : $on_checksum_error\r\n");
    QTest::newRow("binary screen touch up")
        << Binary("028C010700000003")
        << QByteArray(" : $on_screen_touch (up : screen 1, ctrl 7)\r\n");
    QTest::newRow("binary screen touch down")
        << Binary("028C021001000003")
        << QByteArray(" : $on_screen_touch (down : screen 2, ctrl 16)\r\n");
    QTest::newRow("binary 0x03 before the end is data")
        << Binary("0281030100000003") << QByteArray(" : $on_click (down : ctrl 3)\r\n");
    QTest::newRow("binary 0x02 inside a report is data")
        << Binary("0281020100000003") << QByteArray(" : $on_click (down : ctrl 2)\r\n");
    QTest::newRow("binary code 0x80 is unknown") << Binary("0280050100000003") << QByteArray(" : ");
    QTest::newRow("binary unknown code ends without a line break")
        << Binary("028D050100000003") << QByteArray(" : ");

    QTest::newRow("text click down")
        << Text("810510000") << QByteArray(" : $on_click (down : ctrl 5)\r\n");
    QTest::newRow("text click up, lower-case digits")
        << Text("810a00000") << QByteArray(" : $on_click (up : ctrl 10)\r\n");
    QTest::newRow("text click state byte 1 is not the character 1")
        << Text("8105\x01"
                "0000")
        << QByteArray(" : $on_click (?)\r\n");
    QTest::newRow("text check on")
        << Text("821F10000") << QByteArray(" : $on_check (on : ctrl 31)\r\n");
    QTest::newRow("text position")
        << Text("8305012C0") << QByteArray(" : $on_position (ctrl 5 : 300)\r\n");
    QTest::newRow("text touch down")
        << Text("84112C0F0") << QByteArray(" : $on_touch (down : 300,240)\r\n");
    QTest::newRow("text touch up")
        << Text("840FFF000") << QByteArray(" : $on_touch (up : 4095,0)\r\n");
    QTest::newRow("text key byte taken as it is")
        << Text("85A000000") << QByteArray(" : $on_key_press (ascii code=&H41)\r\n");
    QTest::newRow("text date") << Text("867D84190") << QByteArray(" : $on_date (2008/4/25)\r\n");
    QTest::newRow("text time") << Text("870905030") << QByteArray(" : $on_time (09:05:03)\r\n");
    QTest::newRow("text buffer warning")
        << Text("880000000") << QByteArray(" : $on_buffer_warning\r\n");
    QTest::newRow("text buffer overflow")
        << Text("890000000") << QByteArray(" : $on_buffer_overflow\r\n");
    QTest::newRow("text lcd state") << Text("8A0000000") << QByteArray(" : $on_lcd_state\r\n");
    QTest::newRow("text checksum error")
        << Text("8B0000000") << QByteArray(" : $on_checksum_error\r\n");
    QTest::newRow("text screen touch up")
        << Text("8C0107000") << QByteArray(" : $on_screen_touch (up : screen 1, ctrl 7)\r\n");
    QTest::newRow("text non-hex digits read as 0")
        << Text("81ZZ10000") << QByteArray(" : $on_click (down : ctrl 0)\r\n");
    QTest::newRow("text 0x03 where a binary report would end is data")
        << Text("810510\x03"
                "00")
        << QByteArray(" : $on_click (down : ctrl 5)\r\n");
    QTest::newRow("text code letters are upper case only")
        << Text("8a0000000") << QByteArray(" : ");
    QTest::newRow("text form from any code without the high bit")
        << Text("910510000") << QByteArray(" : ");
}

} // namespace

class ReportDecoderTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesEachEvent_data() { AddEventRows(); }
    void decodesEachEvent()
    {
        QFETCH(QByteArray, report);
        QFETCH(QByteArray, decoded);
        ScriptedRandom rng = DrawsFor(1);
        ReportDisplay decoder(rng);
        std::vector<ColoredText> out;
        decoder.Feed(report, out);
        QCOMPARE(Shown(out), Dump(report) + decoded);
        QCOMPARE(rng.Remaining(), 0u);
    }

    void splitAnywhereShowsTheSame_data() { AddEventRows(); }
    void splitAnywhereShowsTheSame()
    {
        QFETCH(QByteArray, report);
        ScriptedRandom wholeRng = DrawsFor(1);
        ReportDisplay whole(wholeRng);
        std::vector<ColoredText> expected;
        whole.Feed(report, expected);

        for (qsizetype split = 0; split <= report.size(); ++split) {
            ScriptedRandom rng = DrawsFor(1);
            ReportDisplay decoder(rng);
            std::vector<ColoredText> out;
            decoder.Feed(QByteArrayView(report).first(split), out);
            decoder.Feed(QByteArrayView(report).sliced(split), out);
            QCOMPARE(Shown(out), Shown(expected));
            QCOMPARE(out.size(), 1u);
        }
    }

    void decodesStreams_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<int>("reports");

        QTest::newRow("bytes before any report")
            << Binary("41FF00") << QByteArray("41 FF 00 ") << 0;
        QTest::newRow("line noise does not shift the next report")
            << Binary("41420281050100000003")
            << QByteArray("41 42 02 81 05 01 00 00 00 03 : $on_click (down : ctrl 5)\r\n") << 1;
        QTest::newRow("noise after a report")
            << Binary("0288000000000003FF")
            << QByteArray("02 88 00 00 00 00 00 03 : $on_buffer_warning\r\nFF ") << 1;
        QTest::newRow("damaged binary report ends its line, the next one decodes")
            << Binary("02810501000000040282010100000003")
            << QByteArray("02 81 05 01 00 00 00 04\r\n"
                          "02 82 01 01 00 00 00 03 : $on_check (on : ctrl 1)\r\n")
            << 2;
        QTest::newRow("damaged text report ends its line, the next one decodes")
            << Binary("02383830303030303030FF0289000000000003")
            << QByteArray("02 38 38 30 30 30 30 30 30 30 FF\r\n"
                          "02 89 00 00 00 00 00 03 : $on_buffer_overflow\r\n")
            << 2;
        QTest::newRow("start byte at the end of a report only ends it")
            << Binary("0281050100000002828A") << QByteArray("02 81 05 01 00 00 00 02\r\n82 8A ")
            << 1;
        QTest::newRow("unknown code leaves the next report on its line")
            << Binary("028D0000000000030288000000000003")
            << QByteArray("02 8D 00 00 00 00 00 03 : "
                          "02 88 00 00 00 00 00 03 : $on_buffer_warning\r\n")
            << 2;
        QTest::newRow("text then binary then text")
            << Text("880000000") + Binary("0289000000000003") + Text("8A0000000")
            << QByteArray("02 38 38 30 30 30 30 30 30 30 03 : $on_buffer_warning\r\n"
                          "02 89 00 00 00 00 00 03 : $on_buffer_overflow\r\n"
                          "02 38 41 30 30 30 30 30 30 30 03 : $on_lcd_state\r\n")
            << 3;
    }
    void decodesStreams()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, shown);
        QFETCH(int, reports);
        ScriptedRandom rng = DrawsFor(reports);
        ReportDisplay decoder(rng);
        std::vector<ColoredText> out;
        decoder.Feed(bytes, out);
        QCOMPARE(Shown(out), shown);
        QCOMPARE(rng.Remaining(), 0u);
    }

    // What the runner and the recorders take from a report, without reading the view's text.
    void givesEachReportsFields_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<bool>("known");
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QByteArray>("text");

        QTest::newRow("binary click down")
            << Binary("0281050100000003") << 0x81 << false << true << 1 << QList<int>{5}
            << QByteArray("$on_click (down : ctrl 5)");
        QTest::newRow("binary state neither 0 nor 1 keeps its value and byte")
            << Binary("0281050200000003") << 0x81 << false << true << 2 << QList<int>{5}
            << QByteArray("$on_click (?)");
        QTest::newRow("binary 16-bit field, no state")
            << Binary("028305012C000003") << 0x83 << false << true << -1 << QList<int>{5, 300}
            << QByteArray("$on_position (ctrl 5 : 300)");
        QTest::newRow("binary two-digit fields keep their whole value")
            << Binary("02877B00FF000003") << 0x87 << false << true << -1 << QList<int>{123, 0, 255}
            << QByteArray("$on_time (23:00:55)");
        QTest::newRow("binary date")
            << Binary("028607D804190003") << 0x86 << false << true << -1 << QList<int>{2008, 4, 25}
            << QByteArray("$on_date (2008/4/25)");
        QTest::newRow("binary unknown code as received")
            << Binary("028D050100000003") << 0x8D << false << false << -1 << QList<int>{}
            << QByteArray();
        QTest::newRow("binary damaged, of a known code")
            << Binary("0281050100000004") << 0x81 << true << false << -1 << QList<int>{}
            << QByteArray();
        QTest::newRow("text click down: the state character as received")
            << Text("810510000") << 0x81 << false << true << int('1') << QList<int>{5}
            << QByteArray("$on_click (down : ctrl 5)");
        QTest::newRow("text key byte taken as it is")
            << Text("85A000000") << 0x85 << false << true << -1 << QList<int>{0x41}
            << QByteArray("$on_key_press (ascii code=&H41)");
        QTest::newRow("text code mapped to the binary one")
            << Text("8C0107000") << 0x8C << false << true << int('0') << QList<int>{1, 7}
            << QByteArray("$on_screen_touch (up : screen 1, ctrl 7)");
        QTest::newRow("text unknown code as received")
            << Text("910510000") << int('9') << false << false << -1 << QList<int>{}
            << QByteArray();
        QTest::newRow("text damaged") << Binary("02383830303030303030FF") << 0x88 << true << false
                                      << -1 << QList<int>{} << QByteArray();
    }
    void givesEachReportsFields()
    {
        QFETCH(QByteArray, report);
        QFETCH(int, code);
        QFETCH(bool, damaged);
        QFETCH(bool, known);
        QFETCH(int, state);
        QFETCH(QList<int>, values);
        QFETCH(QByteArray, text);
        ReportDecoder decoder;
        DecodedRead read;
        decoder.Feed(Binary("41") + report + Binary("FF"), read);
        QCOMPARE(read.starts, std::vector<qsizetype>{1});
        QCOMPARE(read.reports.size(), 1u);
        const DecodedReport& decoded = read.reports[0];
        QCOMPARE(decoded.end, report.size());
        QCOMPARE(decoded.code, std::uint8_t(code));
        QCOMPARE(decoded.binary, report.size() == kBinaryReportLength);
        QCOMPARE(decoded.damaged, damaged);
        QCOMPARE(decoded.event != nullptr, known);
        if (known)
            QCOMPARE(decoded.event->code, std::uint8_t(code));
        QCOMPARE(decoded.state, state);
        QCOMPARE(QList<int>(decoded.values.begin(), decoded.values.begin() + decoded.valueCount),
                 values);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(decoded.raw.data()), decoded.rawLength),
                 report);
        QCOMPARE(decoded.Text().toByteArray(), text);
    }

    // However a stream is cut into reads, the same reports come out at the same places.
    void splitAnywhereGivesTheSameReports_data() { decodesStreams_data(); }
    void splitAnywhereGivesTheSameReports()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, reports);
        ReportDecoder whole;
        DecodedRead read;
        whole.Feed(bytes, read);
        const QList<QByteArray> expected = AllFields(read);
        QCOMPARE(read.reports.size(), std::size_t(reports));

        for (qsizetype split = 0; split <= bytes.size(); ++split) {
            ReportDecoder decoder;
            decoder.Feed(QByteArrayView(bytes).first(split), read);
            QList<QByteArray> fields = AllFields(read);
            decoder.Feed(QByteArrayView(bytes).sliced(split), read);
            fields += AllFields(read, split);
            // Starts first, then reports, as one read lists them.
            std::stable_partition(fields.begin(), fields.end(),
                                  [](const QByteArray& f) { return f.startsWith("start "); });
            QCOMPARE(fields, expected);
        }
    }

    void eachReportHasItsOwnColour()
    {
        // First report: blue 1000 % 180, green 2000 % 180, red 3000 % 180; the second shows
        // that every channel stays below 180.
        ScriptedRandom rng{1000, 2000, 3000, 179, 180, 359};
        ReportDisplay decoder(rng);
        std::vector<ColoredText> out;
        decoder.Feed(Binary("41"), out);
        decoder.Feed(Binary("0288000000000003"), out);
        decoder.Feed(Binary("42"), out);
        decoder.Feed(Binary("0289000000000003"), out);
        decoder.Feed(Binary("43"), out);

        QCOMPARE(out.size(), 3u);
        QCOMPARE(out[0].text, QByteArray("41 "));
        QCOMPARE(out[0].colour, ColorRef{0});
        QCOMPARE(out[1].text, QByteArray("02 88 00 00 00 00 00 03 : $on_buffer_warning\r\n42 "));
        QCOMPARE(out[1].colour, ColorRef{0x00641478});
        QCOMPARE(out[2].text, QByteArray("02 89 00 00 00 00 00 03 : $on_buffer_overflow\r\n43 "));
        QCOMPARE(out[2].colour, ColorRef{0x00B300B3});
    }

    // Arrays handed back are written again: no text of an earlier read may show through, and a
    // piece the caller kept a copy of must stay as it was.
    void recycledPiecesShowTheSame_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::newRow("a byte per read") << 1;
        QTest::newRow("reads that split reports") << 7;
        QTest::newRow("reads of many reports") << 200;
    }
    void recycledPiecesShowTheSame()
    {
        QFETCH(int, chunk);
        QByteArray bytes;
        for (int i = 0; i < 40; ++i)
            bytes += Binary(i % 3 ? "0281050100000003" : "41028A000000000003FF");
        SeededRandom freshRng(7);
        SeededRandom reusedRng(7);
        ReportDisplay fresh(freshRng);
        ReportDisplay reused(reusedRng);
        std::vector<ColoredText> pieces;
        for (qsizetype at = 0; at < bytes.size(); at += chunk) {
            const QByteArrayView read = QByteArrayView(bytes).sliced(at).first(
                std::min<qsizetype>(chunk, bytes.size() - at));
            std::vector<ColoredText> expected;
            fresh.Feed(read, expected);
            const std::vector<ColoredText> kept = pieces;
            const QByteArray keptText = Shown(kept);
            reused.Recycle(pieces);
            reused.Feed(read, pieces);
            QCOMPARE(pieces.size(), expected.size());
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                QCOMPARE(pieces[i].text, expected[i].text);
                QCOMPARE(pieces[i].colour, expected[i].colour);
            }
            QCOMPARE(Shown(kept), keptText);
        }
    }
};

QTEST_APPLESS_MAIN(ReportDecoderTest)
#include "tst_report_decoder.moc"
