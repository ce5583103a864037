#pragma once

#include "protocol/EventTable.h"
#include "support/RandomSource.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <vector>

using ColorRef = std::uint32_t; // 0x00BBGGRR, as the receive view's colours are kept

struct ColoredText
{
    QByteArray text;
    ColorRef colour;
};

// Turns the bytes the module sends into what the receive view shows: every byte as two hex
// digits, and after each complete event report its meaning, each report in a colour of its own.
// The state lives here, not per read, so a report split over several reads builds up across them,
// also across closing and reopening the port.
class ReportDecoder
{
public:
    explicit ReportDecoder(RandomSource& rng);

    // Appends what the bytes show, in order, to out; a piece in the same colour as the last one
    // already in out is added to it, so the view gets few, large appends.
    void Feed(QByteArrayView bytes, std::vector<ColoredText>& out);

    // Takes back the arrays of pieces the caller is done with and empties `pieces`. Later pieces
    // are written into them, so a steady stream of reports costs no allocation per report.
    void Recycle(std::vector<ColoredText>& pieces);

    // The meaning of a complete report: "$on_click (down : ctrl 5)".
    static QByteArray DecodeEvent(const ReportEvent& event, const std::uint8_t* report,
                                  bool binary);

private:
    class PieceWriter;
    void OpenPiece(std::vector<ColoredText>& out, PieceWriter& writer, qsizetype room);

    RandomSource& m_rng;
    int m_position = -1; // of the next byte in the current report; -1 between reports
    std::array<std::uint8_t, kTextReportLength> m_report{};
    bool m_binary = false;
    // Bytes before the first report show in black.
    ColorRef m_colour = 0;
    std::vector<QByteArray> m_spare; // empty arrays that keep their room, for the next pieces
};
