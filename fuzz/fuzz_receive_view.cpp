// The receive view's store fed the decoder's pieces, as the console feeds it: its size stays
// bounded and the newest text is kept whole, dropped by whole lines.
#include "fuzz/FuzzData.h"
#include "support/ui/ReceiveView.h"
#include "tests/common/ReportDisplay.h"

#include <QApplication>
#include <QColor>

#include <algorithm>
#include <cstdlib>

namespace {

// The view drops old text in batches of an eighth of what it keeps.
constexpr qsizetype kMostHeld = ReceiveView::kKeepCharacters + ReceiveView::kKeepCharacters / 8;

QColor ViewColour(ColorRef colour)
{
    return QColor(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: libFuzzer leaves through exit(), when Qt's own globals are already gone.
    static QApplication* const application = new QApplication(*argc, *argv);
    Q_UNUSED(application);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    const QByteArrayView bytes = input.Rest();
    if (bytes.isEmpty())
        return 0;

    SeededRandom random(mode);
    ReportDisplay decoder(random);
    std::vector<ColoredText> pieces;
    decoder.Feed(bytes, pieces);
    QByteArray block; // what the view shows for one pass of the pieces
    for (const ColoredText& piece : pieces)
        block += QByteArray(piece.text).replace("\r\n", "\n");
    if (block.isEmpty())
        return 0;
    // Mode 0xFF repeats the pieces until the store has dropped old text, so the bound is reached
    // on some inputs, not only on huge ones. The repeats go in batches of at least 64 KiB, with
    // adjacent pieces of one colour joined as the decoder joins them, so a short input does not
    // cost millions of appends.
    std::vector<ColoredText> batch = pieces;
    qsizetype batchPasses = 1;
    if (mode == 0xFF) {
        while (batchPasses * block.size() < 64 * 1024) {
            for (const ColoredText& piece : pieces) {
                if (batch.back().colour == piece.colour)
                    batch.back().text += piece.text;
                else
                    batch.push_back(piece);
            }
            ++batchPasses;
        }
    }
    const qsizetype target = mode == 0xFF ? kMostHeld + ReceiveView::kKeepCharacters / 16 : 0;

    ReceiveView view;
    qsizetype shown = 0;
    do {
        for (const ColoredText& piece : batch)
            view.Append(piece.text, ViewColour(piece.colour), false);
        shown += batchPasses * block.size();
    } while (shown < target);

    const qsizetype held = view.textSize();
    FUZZ_CHECK(held <= kMostHeld);
    FUZZ_CHECK(held >= std::min(shown, ReceiveView::kKeepCharacters));
    const QString text = view.toPlainText();
    FUZZ_CHECK(text.size() == held);
    const qsizetype cut = shown - held;
    QByteArray expected; // the last `held` characters of the passes
    expected.reserve(held + block.size());
    expected += block.sliced(cut % block.size());
    while (expected.size() < held)
        expected += block;
    FUZZ_CHECK(text == QLatin1StringView(expected.first(held)));
    // Old text goes by whole lines; only a line longer than all that is kept is cut, and a line
    // of the repeated block is far shorter than that unless the block holds no line end.
    if (cut > 0 && block[(cut - 1) % block.size()] != '\n')
        FUZZ_CHECK(!block.contains('\n') && shown > ReceiveView::kKeepCharacters);
    return 0;
}
