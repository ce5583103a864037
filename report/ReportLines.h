#pragma once

#include "report/ReportDecoder.h"
#include "support/RandomSource.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// The report lines of the bytes a module sends. A report line is the decoded text of one complete
// report with a known code, exactly as the receive view shows it after the report's hex digits
// and " : ", up to the line end: "$on_click (down : ctrl 1)". Noise, damaged reports and reports
// of unknown codes give no line. The bytes go through the console's own decoder, so a script sees
// what a person at the console sees.
class ReportLines
{
public:
    ReportLines();

    // Appends the lines the bytes complete to `out`; a report split over several calls is put
    // together.
    void Feed(QByteArrayView bytes, std::vector<QByteArray>& out);
    // The same for text a decoder has already made of the bytes, for an owner that decodes them
    // for its own view anyway; use either this or Feed on one object, not both.
    void FeedDecoded(const std::vector<ColoredText>& pieces, std::vector<QByteArray>& out);

private:
    SeededRandom m_colours{1}; // the decoder colours its pieces; the colours are not used here
    ReportDecoder m_decoder{m_colours};
    QByteArray m_pending; // decoded text after the last line end
    std::vector<ColoredText> m_pieces;
};
