#pragma once

#include "protocol/EventTable.h"

#include <QByteArray>

#include <array>

enum class ReportForm
{
    Binary,
    Text,
};

// The parameters of one event report, in the order the event table lists its values.
struct ReportContent
{
    bool state = false; // down / on; unused by events without a state
    std::array<long, 3> values{};
};

// One complete, framed report of `event` in the given form. Every field is written where the
// shared table puts it, so the console's decoder reads back exactly these values. A value wider
// than its field keeps its low digits (low bytes), as the field can hold no more.
QByteArray EncodeReport(const ReportEvent& event, const ReportContent& content, ReportForm form);

// The same, looked up by binary code (report_code); empty for a code outside the table.
QByteArray EncodeReport(std::uint8_t code, const ReportContent& content, ReportForm form);
