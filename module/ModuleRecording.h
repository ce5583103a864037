#pragma once

#include "module/ModuleEngine.h"
#include "report/ReportDecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QPoint>

#include <functional>
#include <optional>
#include <vector>

// Turns what the virtual module takes, what its user does to it and what it reports into the
// lines of a script that repeats the session: each burst of bytes it takes becomes a send step,
// each touch, key and hand-sent report the step that repeats it, each report an expect with the
// report's text, each screen saved a screen step, and each pause of more than kLongestPauseMs a
// wait. Times are milliseconds of one
// clock, given by the caller; every line goes to the sink as soon as it is settled, so nothing
// grows with the length of the session.
class ModuleRecording
{
public:
    using Sink = std::function<void(QByteArrayView line)>;

    // Bytes that follow each other more closely than this are one burst: the pieces of one send.
    static constexpr qint64 kBurstGapMs = 100;
    static constexpr qint64 kLongestPauseMs = 500;
    // A longer burst is cut, after its last ";" where there is one, so that even a sendhex line
    // (three characters a byte) stays well under the longest line a script may hold.
    static constexpr qsizetype kMostSendBytes = 16 * 1024;

    explicit ModuleRecording(Sink sink);

    void Received(QByteArrayView bytes, qint64 ms);
    void Acted(const ModuleAction& action, qint64 ms);
    // One or more whole reports as the module sends them, in either form.
    void Reported(QByteArrayView reports, qint64 ms);
    // The screen was saved as `file` (as a screen step names it): a screen step that compares the
    // module's screen at this point with that picture.
    void ScreenSaved(const QString& file, qint64 ms);
    // Writes what is still held back.
    void Finish();

private:
    struct Held
    {
        QPoint point;
        qint64 ms = 0;
    };

    void Write(const QByteArray& line, qint64 startMs, qint64 endMs);
    void WriteExpect(const QByteArray& line, qint64 ms);
    void WriteSend(qsizetype bytes);
    void CloseBurst();
    void WritePress();

    Sink m_sink;
    ReportDecoder m_decoder;
    DecodedRead m_decoded;
    qint64 m_lastMs = -1;     // the end of the last step written
    qint64 m_stimulusMs = -1; // the last send or action, which the next report answers

    QByteArray m_burst;
    qint64 m_burstStartMs = 0;
    qint64 m_burstEndMs = 0;
    // A press is held until its release shows whether it was a touch or the start of a drag; the
    // reports it caused meanwhile wait with it.
    std::optional<Held> m_press;
    std::vector<QByteArray> m_pressReports;
    // A move is kept only when a report shows it changed something; the others did nothing the
    // module would remember.
    std::optional<Held> m_move;
};
