#include "tests/common/ReportStream.h"

QByteArray RandomReport(RandomSource& rng, ReportForm form)
{
    const auto events = ReportEvents();
    const ReportEvent& event = events[static_cast<std::size_t>(rng.Draw()) % events.size()];
    ReportContent content;
    content.state = rng.Draw() % 2 != 0;
    // Wider than any field; the encoder keeps what a field holds.
    for (int i = 0; i < event.valueCount; ++i)
        content.values[static_cast<std::size_t>(i)] = rng.Draw();
    return EncodeReport(event, content, form);
}

QByteArray ReportStream(RandomSource& rng, qsizetype atLeast, int textPercent)
{
    QByteArray out;
    out.reserve(atLeast + kTextReportLength);
    while (out.size() < atLeast) {
        const bool text = rng.Draw() % 100 < textPercent;
        out += RandomReport(rng, text ? ReportForm::Text : ReportForm::Binary);
    }
    return out;
}
