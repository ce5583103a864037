// The report decoder and the presenter against the plain reference decoder, whole and split in two
// reads: the text must match exactly, so the hex dump is the input byte for byte and every
// completed report is decoded or left at " : ". The decoder's reports must agree with the bytes
// and with what the presenter wrote of them (a known report's text is what follows its hex), and
// must not depend on where the reads were cut.
#include "fuzz/FuzzData.h"
#include "fuzz/ReferenceDecoder.h"
#include "tests/common/ReportDisplay.h"

#include <algorithm>
#include <string>

namespace {

QByteArray Joined(const std::vector<ColoredText>& pieces)
{
    QByteArray text;
    for (const ColoredText& piece : pieces)
        text += piece.text;
    return text;
}

// The hex part: every pair of digits that is followed by a blank, " : " or a line end, outside
// the decoded meanings (which start with "$" and run to their line end).
QByteArray HexPart(const QByteArray& text)
{
    QByteArray bytes;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == '$') {
            i = text.indexOf("\r\n", i);
            FUZZ_CHECK(i >= 0);
            i += 2;
            continue;
        }
        if (text[i] == '\r' || text[i] == ' ' || text[i] == ':' || text[i] == '\n') {
            ++i;
            continue;
        }
        FUZZ_CHECK(i + 1 < text.size());
        bool ok = false;
        bytes.append(static_cast<char>(text.mid(i, 2).toUInt(&ok, 16)));
        FUZZ_CHECK(ok);
        i += 2;
    }
    return bytes;
}

// What the view must show of one read, from the decoder's account of it alone.
QByteArray ShownFromReports(QByteArrayView bytes, const DecodedRead& read)
{
    QByteArray text;
    auto report = read.reports.begin();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        text += QByteArray(1, bytes[i]).toHex().toUpper();
        if (report == read.reports.end() || report->end != i) {
            text += ' ';
            continue;
        }
        if (report->damaged)
            text += "\r\n";
        else if (report->event)
            text += " : " + report->Text().toByteArray() + "\r\n";
        else
            text += " : ";
        ++report;
    }
    FUZZ_CHECK(report == read.reports.end());
    return text;
}

// Each report's fields agree with each other and with the bytes of the read it ended in.
void CheckReports(QByteArrayView bytes, const DecodedRead& read)
{
    qsizetype last = -1;
    for (const qsizetype start : read.starts) {
        FUZZ_CHECK(start > last && start < bytes.size() && bytes[start] == kReportStart);
        last = start;
    }
    last = -1;
    for (const DecodedReport& report : read.reports) {
        FUZZ_CHECK(report.end > last && report.end < bytes.size());
        last = report.end;
        FUZZ_CHECK(report.rawLength == (report.binary ? kBinaryReportLength : kTextReportLength));
        FUZZ_CHECK(report.raw[0] == kReportStart);
        // The bytes of it that came in this read.
        const qsizetype here = std::min<qsizetype>(report.rawLength, report.end + 1);
        FUZZ_CHECK(QByteArrayView(report.raw.data() + report.rawLength - here, here) ==
                   bytes.sliced(report.end + 1 - here, here));
        FUZZ_CHECK(report.damaged == (report.raw[report.rawLength - 1] != kReportEnd));
        FUZZ_CHECK(report.Text().isEmpty() == (report.event == nullptr));
        if (report.event) {
            FUZZ_CHECK(!report.damaged && report.event->code == report.code);
            FUZZ_CHECK(report.Text().startsWith(report.event->name));
            FUZZ_CHECK(report.valueCount == report.event->valueCount);
            FUZZ_CHECK((report.state >= 0) == report.event->state.has_value());
        } else {
            FUZZ_CHECK(report.state == -1 && report.valueCount == 0);
        }
    }
}

// A read's account as one list, ends counted from `base`.
std::vector<QByteArray> Account(const DecodedRead& read, qsizetype base)
{
    std::vector<QByteArray> lines;
    for (const DecodedReport& report : read.reports)
        lines.push_back(
            QByteArray::number(base + report.end) + ' ' +
            QByteArray(reinterpret_cast<const char*>(report.raw.data()), report.rawLength).toHex() +
            ' ' + report.Text().toByteArray());
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t split = input.Mode();
    const QByteArrayView bytes = input.Rest();
    const qsizetype at = bytes.isEmpty() ? 0 : split % (bytes.size() + 1);

    SeededRandom wholeRandom(split);
    ReportDisplay whole(wholeRandom);
    std::vector<ColoredText> wholePieces;
    whole.Feed(bytes, wholePieces);
    const DecodedRead wholeRead = whole.Read();
    CheckReports(bytes, wholeRead);

    SeededRandom splitRandom(split);
    ReportDisplay twoReads(splitRandom);
    std::vector<ColoredText> splitPieces;
    twoReads.Feed(bytes.first(at), splitPieces);
    CheckReports(bytes.first(at), twoReads.Read());
    std::vector<QByteArray> splitAccount = Account(twoReads.Read(), 0);
    std::vector<qsizetype> splitStarts = twoReads.Read().starts;
    twoReads.Feed(bytes.sliced(at), splitPieces);
    CheckReports(bytes.sliced(at), twoReads.Read());
    for (QByteArray& line : Account(twoReads.Read(), at))
        splitAccount.push_back(std::move(line));
    for (const qsizetype start : twoReads.Read().starts)
        splitStarts.push_back(at + start);
    FUZZ_CHECK(splitAccount == Account(wholeRead, 0));
    FUZZ_CHECK(splitStarts == wholeRead.starts);

    ReferenceDecoder reference;
    const std::string expected =
        reference.Feed(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
    const QByteArray text = Joined(wholePieces);
    FUZZ_CHECK(text == QByteArrayView(expected.data(), static_cast<qsizetype>(expected.size())));
    FUZZ_CHECK(Joined(splitPieces) == text);
    FUZZ_CHECK(HexPart(text) == bytes);
    FUZZ_CHECK(ShownFromReports(bytes, wholeRead) == text);
    // One piece per colour change: the view gets few, large appends.
    for (std::size_t i = 1; i < wholePieces.size(); ++i)
        FUZZ_CHECK(wholePieces[i].colour != wholePieces[i - 1].colour);
    return 0;
}
