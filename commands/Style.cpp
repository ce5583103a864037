#include "commands/Style.h"

#include "commands/Format.h"
#include "commands/StatementParts.h"

using compose::Decimal;
using compose::DecimalList;
using compose::DrawBelow;

namespace {

// Everything from `from` up to the closing ";" is selected.
StyleProposal SelectedToEnd(QByteArray text, int from)
{
    const int end = static_cast<int>(text.size()) - 1;
    return {std::move(text), from, end};
}

} // namespace

StyleProposal ComposeDotSize(RandomSource& rng, bool ctrlHeld)
{
    const int drawn = DrawBelow(rng, 40) + 1;
    const QByteArray size = Decimal(ctrlHeld ? 8 : drawn);
    constexpr int kSizeAt = 8; // after "Dotsize "
    return {"Dotsize " + size + ';', kSizeAt, kSizeAt + static_cast<int>(size.size())};
}

StyleProposal ComposeColorProposal(RandomSource& rng)
{
    return SelectedToEnd(RandomColorStatement(rng), 8);
}

StyleProposal ComposeTextPosTopLeft(RandomSource& rng)
{
    const int y = DrawBelow(rng, ScreenHeight / 2);
    const int x = DrawBelow(rng, ScreenWidth / 2);
    return SelectedToEnd("TextPos " + DecimalList({x, y}) + ';', 8);
}

StyleProposal ComposeTextPosRect(RandomSource& rng)
{
    const int y2 = ScreenHeight / 2 + DrawBelow(rng, ScreenHeight / 2);
    const int x2 = ScreenWidth / 2 + DrawBelow(rng, ScreenWidth / 2);
    const int y1 = DrawBelow(rng, ScreenHeight / 4);
    const int x1 = DrawBelow(rng, ScreenWidth / 4);
    return SelectedToEnd("TextPos " + DecimalList({x1, y1, x2, y2}) + ';', 8);
}

QByteArray FontAlternation::Next()
{
    ++m_presses;
    return m_presses % 2 == 0 ? "'Tahoma'" : "'Courier New'";
}

StyleProposal ComposeFont(RandomSource& rng, FontAlternation& fonts, const QByteArray& keyword)
{
    const QByteArray font = fonts.Next();
    const int a = DrawBelow(rng, 2);
    const int size = DrawBelow(rng, 100) + 10;
    QByteArray text = keyword + Decimal(size) + ',' + font + ',' + Decimal(a);
    if (DrawBelow(rng, 2) != 0) {
        const int b = DrawBelow(rng, 2);
        const int c = DrawBelow(rng, 2);
        text += ',' + DecimalList({c, b});
    }
    return SelectedToEnd(text + ';', 9);
}

StyleProposal ComposeStyleColor(RandomSource& rng, const QByteArray& keyword)
{
    const QByteArray colour = FormatColor(RandomColor(rng));
    QByteArray text = keyword + colour;
    if (DrawBelow(rng, 2) != 0)
        text += ',' + (DrawBelow(rng, 2) == 0 ? colour : QByteArray("$transparent"));
    return SelectedToEnd(text + ';', 12);
}
