#pragma once

#include "protocol/EventTable.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <vector>

// One report that ended in a read: what the module meant by it, and its bytes. Kept by value, the
// text included, so a read of thousands of reports costs no allocation once the vector that holds
// them has grown to its size.
struct DecodedReport
{
    qsizetype end;     // offset, in the bytes fed, of its last byte
    std::uint8_t code; // the binary code (a text form's two characters mapped to it); as
                       // received at position 1 when the code is none of the twelve
    bool binary;       // which form
    bool damaged;      // its last position did not hold the end byte
    // The event; null when the code is none of the twelve, and for a damaged report.
    const ReportEvent* event;
    // -1 when the event has no state; else the state byte (binary) or character (text) as
    // received, which need not be 0 or 1 (the text then shows " (?)" and no values).
    int state;
    // The fields in the table's order, as read from the report: a two-digit field keeps its
    // whole value here, though its text shows the last two digits.
    std::array<long, 3> values;
    int valueCount;
    std::array<std::uint8_t, kTextReportLength> raw; // its bytes, the start byte first
    int rawLength;

    // The event text, "$on_click (down : ctrl 5)", as the receive view shows it after the
    // report's hex digits; empty for a damaged report or an unknown code.
    QByteArrayView Text() const { return QByteArrayView(m_text.data(), m_textLength); }

private:
    friend class ReportDecoder;
    std::array<char, kMostEventTextLength> m_text;
    int m_textLength;
};

// What one read of the module's bytes holds.
struct DecodedRead
{
    // Offsets of the bytes that began a report (a start byte between reports): where the
    // receive view changes colour.
    std::vector<qsizetype> starts;
    // The reports that ended in the read, in order.
    std::vector<DecodedReport> reports;

    // Empties both, keeping their room for the next read.
    void clear()
    {
        starts.clear();
        reports.clear();
    }
};

// Frames and decodes the event reports in the bytes the module sends. A report starts at a start
// byte that comes between reports (noise between reports starts nothing, so it cannot shift the
// framing of the next one); its code byte picks the form and so its length, every byte up to
// that length belongs to it (a start or end byte inside is data), and its last position must hold
// the end byte, or it ends there damaged, so the next start byte begins a fresh report instead of
// everything after it being swallowed. The state lives here, not per read: a report split over
// several reads is put together across them, also across closing and reopening the port.
class ReportDecoder
{
public:
    // Replaces `out` with what `bytes` hold, offsets counted from the first of them.
    void Feed(QByteArrayView bytes, DecodedRead& out);

    // The meaning of a complete report: "$on_click (down : ctrl 5)".
    static QByteArray DecodeEvent(const ReportEvent& event, const std::uint8_t* report,
                                  bool binary);

private:
    void Finish(qsizetype end, DecodedRead& out);
    // Fills in the state, values and text of a report whose bytes, form and event are set.
    static void Describe(DecodedReport& report);

    int m_position = -1; // of the next byte in the current report; -1 between reports
    std::array<std::uint8_t, kTextReportLength> m_report{};
    bool m_binary = false;
};
