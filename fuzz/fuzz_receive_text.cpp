// The receive text against a plain model, with a small bound so that dropping is reached on short
// inputs: the text held is the newest of what was appended, line breaks folded as a serial line
// sends them, cut by whole lines unless one line outgrew the bound; every character keeps the
// colour it came with; and the rows of any width cover the text exactly, each at most a width
// long (a blank hanging past the edge aside), ending after the last blank that fits, or inside a
// word only when the word is wider than a row, whether laid out as the text came or at once.
//
// Input: a mode byte (bits 0-5 the bound in steps of 8 characters, bit 6 time stamps, bit 7 a
// second width at the end), a width byte, then appends separated by NUL; an append of one 0x01
// byte stands for Clear.
#include "fuzz/FuzzData.h"
#include "support/ReceiveText.h"

#include <QByteArray>

#include <vector>

namespace {

constexpr char kStamp[] = "01:02:03.004 ";

struct Model
{
    QByteArray text;
    std::vector<QRgb> colours;
    qsizetype clearedAt = 0;
    bool afterCarriageReturn = false;
    bool atLineStart = true;

    void Put(char c, QRgb colour, bool stamps)
    {
        if (atLineStart && stamps) {
            text += kStamp;
            colours.insert(colours.end(), sizeof kStamp - 1, colour);
        }
        atLineStart = c == '\n';
        text += c;
        colours.push_back(colour);
    }

    void Append(QByteArrayView in, QRgb colour, bool stamps)
    {
        for (char c : in) {
            const bool skip = c == '\n' && afterCarriageReturn;
            afterCarriageReturn = c == '\r';
            if (!skip)
                Put(c == '\r' ? '\n' : c, colour, stamps);
        }
    }
};

void CheckRows(const ReceiveText& text)
{
    const qint64 columns = text.Columns();
    qint64 next = text.First();
    for (qint64 row = text.FirstRow(); row < text.EndRow(); ++row) {
        const ReceiveText::RowSpan span = text.Row(row);
        FUZZ_CHECK(span.from == next);
        FUZZ_CHECK(span.from <= span.to && span.to <= span.lineEnd && span.lineEnd <= text.End());
        FUZZ_CHECK(span.lineEnd == text.End() || text.At(span.lineEnd) == '\n');
        const qint64 width = span.to - span.from;
        FUZZ_CHECK(width <= columns || (width == columns + 1 && text.At(span.to - 1) == ' '));
        if (span.to < span.lineEnd) {
            FUZZ_CHECK(width > 0);
            if (text.At(span.to - 1) == ' ' && span.to - 1 > span.from) {
                // The next word would not have fitted.
                qint64 wordEnd = span.to;
                while (wordEnd < span.lineEnd && text.At(wordEnd) != ' ')
                    ++wordEnd;
                FUZZ_CHECK(wordEnd - span.from > columns);
            } else {
                // A word wider than a row, cut at the edge: no blank to break at before it.
                FUZZ_CHECK(width == columns && text.At(span.to) != ' ');
                for (qint64 at = span.from + 1; at < span.to; ++at)
                    FUZZ_CHECK(text.At(at) != ' ');
            }
        }
        FUZZ_CHECK(text.OffsetOfRow(row) == span.from);
        for (qint64 at = span.from; at < span.to; ++at) {
            FUZZ_CHECK(text.At(at) != '\n');
            FUZZ_CHECK(text.RowOfOffset(at) == row);
            FUZZ_CHECK(text.ColumnOf(at) == at - span.from);
        }
        for (qint64 column = 0; column <= columns + 1; ++column)
            FUZZ_CHECK(text.OffsetAt(row, column) == std::min(span.from + column, span.to));
        next = span.to == span.lineEnd ? span.lineEnd + 1 : span.to;
    }
    FUZZ_CHECK(next == text.End() + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    const std::uint8_t width = input.Mode();
    const bool stamps = (mode & 0x40) != 0;

    ReceiveText text(1 + (mode & 0x3F) * 8);
    text.SetClock([] { return QTime(1, 2, 3, 4); });
    text.SetTimeStamps(stamps);
    text.SetColumns(1 + width % 64);
    qint64 dropListened = 0; // since the last Clear
    text.SetDropListener([&](qint64 from, qint64 to) {
        FUZZ_CHECK(from == text.First() && from < to && to <= text.End());
        dropListened += to - from;
    });
    QByteArray stored;
    text.SetStoreListener([&](QByteArrayView added) { stored += added; });

    Model model;
    for (int field = 0; !input.Rest().isEmpty(); ++field) {
        const QByteArrayView piece = input.Field('\0');
        if (piece == "\x01") {
            text.Clear();
            dropListened = 0;
            model.clearedAt = model.text.size();
            model.atLineStart = true;
            continue;
        }
        const QRgb colour = qRgb(field % 7, field % 5, field % 3);
        const qsizetype before = model.text.size();
        const qsizetype added = text.Append(piece, colour, field % 2 == 0);
        model.Append(piece, colour, stamps);
        FUZZ_CHECK(added == model.text.size() - before);
    }
    FUZZ_CHECK(stored == model.text);

    const qsizetype shown = model.text.size() - model.clearedAt;
    const qsizetype held = text.Size();
    FUZZ_CHECK(held <= text.MostHeld());
    FUZZ_CHECK(held >= std::min(shown, text.Keep()));
    FUZZ_CHECK(text.Dropped() == shown - held && dropListened == text.Dropped());
    FUZZ_CHECK(text.End() - text.First() == held);
    const qsizetype cut = model.text.size() - held;
    FUZZ_CHECK(text.Bytes() == QByteArrayView(model.text).sliced(cut));
    FUZZ_CHECK(text.Text(text.First(), text.End()) == QLatin1StringView(model.text.sliced(cut)));
    // Old text goes by whole lines, unless one line alone grew past what is kept and the batch.
    if (cut > model.clearedAt && model.text[cut - 1] != '\n') {
        const qsizetype lineStart = model.text.lastIndexOf('\n', cut - 1) + 1;
        FUZZ_CHECK(model.text.size() - std::max(lineStart, model.clearedAt) > text.MostHeld());
    }

    for (qint64 at = text.First(); at < text.End(); ++at) {
        const ReceiveText::RunSpan run = text.RunAt(at);
        FUZZ_CHECK(run.start <= at && at < run.end && run.start >= text.First());
        FUZZ_CHECK(run.colour == model.colours[static_cast<std::size_t>(cut + at - text.First())]);
    }
    CheckRows(text);
    if (mode & 0x80) {
        text.SetColumns(1 + width / 4);
        CheckRows(text);
    }
    return 0;
}
