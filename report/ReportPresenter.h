#pragma once

#include "report/ReportDecoder.h"
#include "support/RandomSource.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

using ColorRef = std::uint32_t; // 0x00BBGGRR, as the receive view's colours are kept

struct ColoredText
{
    QByteArray text;
    ColorRef colour;
};

// Turns received bytes and what the decoder found in them into what the receive view shows:
// every byte as two hex digits and a blank, a known report's text after its last byte
// (" : $on_click (down : ctrl 5)" and a line end), " : " alone after a report of an unknown code
// (what follows continues its line), a line end after a damaged one; each report in a colour of
// its own, drawn where it starts. Widget-free; the colours and the pieces' arrays carry over from
// one read to the next, as the decoder's state does.
class ReportPresenter
{
public:
    explicit ReportPresenter(RandomSource& rng);

    // Appends what the bytes show, in order, to `out`; `read` is what the decoder made of these
    // same bytes. A piece in the same colour as the last one already in `out` is added to it, so
    // the view gets few, large appends.
    void Present(QByteArrayView bytes, const DecodedRead& read, std::vector<ColoredText>& out);

    // Takes back the arrays of pieces the caller is done with and empties `pieces`. Later pieces
    // are written into them, so a steady stream of reports costs no allocation per report.
    void Recycle(std::vector<ColoredText>& pieces);

private:
    class PieceWriter;
    void OpenPiece(std::vector<ColoredText>& out, PieceWriter& writer, qsizetype room);
    ColorRef DrawColour();

    RandomSource& m_rng;
    // Bytes before the first report show in black.
    ColorRef m_colour = 0;
    std::vector<QByteArray> m_spare; // empty arrays that keep their room, for the next pieces
};
