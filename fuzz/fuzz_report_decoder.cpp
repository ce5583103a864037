// The report decoder against the plain reference decoder, whole and split in two reads: the text
// must match exactly, so the hex dump is the input byte for byte and every completed report is
// decoded or left at " : ".
#include "fuzz/FuzzData.h"
#include "fuzz/ReferenceDecoder.h"
#include "report/ReportDecoder.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t split = input.Mode();
    const QByteArrayView bytes = input.Rest();
    const qsizetype at = bytes.isEmpty() ? 0 : split % (bytes.size() + 1);

    SeededRandom wholeRandom(split);
    ReportDecoder whole(wholeRandom);
    std::vector<ColoredText> wholePieces;
    whole.Feed(bytes, wholePieces);

    SeededRandom splitRandom(split);
    ReportDecoder twoReads(splitRandom);
    std::vector<ColoredText> splitPieces;
    twoReads.Feed(bytes.first(at), splitPieces);
    twoReads.Feed(bytes.sliced(at), splitPieces);

    ReferenceDecoder reference;
    const std::string expected =
        reference.Feed(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
    const QByteArray text = Joined(wholePieces);
    FUZZ_CHECK(text == QByteArrayView(expected.data(), static_cast<qsizetype>(expected.size())));
    FUZZ_CHECK(Joined(splitPieces) == text);
    FUZZ_CHECK(HexPart(text) == bytes);
    // One piece per colour change: the view gets few, large appends.
    for (std::size_t i = 1; i < wholePieces.size(); ++i)
        FUZZ_CHECK(wholePieces[i].colour != wholePieces[i - 1].colour);
    return 0;
}
