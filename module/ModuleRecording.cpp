#include "module/ModuleRecording.h"

#include "protocol/EventTable.h"
#include "scriptformat/Script.h"
#include "scriptformat/ScriptWriter.h"

#include <algorithm>

namespace {

// A clock reading differs on every replay: each run of its digits matches any run.
QByteArray ClockPattern(QByteArrayView line)
{
    QByteArray pattern;
    bool inDigits = false;
    for (const char c : line) {
        const bool digit = c >= '0' && c <= '9';
        if (digit && !inDigits)
            pattern += '*';
        else if (!digit)
            pattern += c;
        inDigits = digit;
    }
    return pattern;
}

} // namespace

ModuleRecording::ModuleRecording(Sink sink) : m_sink(std::move(sink)) {}

void ModuleRecording::Write(const QByteArray& line, qint64 startMs, qint64 endMs)
{
    if (m_lastMs >= 0) {
        // A pause longer than a wait step may be (a session left recording over lunch) becomes
        // several.
        for (qint64 pause = startMs - m_lastMs; pause > kLongestPauseMs;) {
            const qint64 part = std::min<qint64>(pause, kMostStepMs);
            m_sink(script_line::Wait(static_cast<int>(part)));
            pause -= part;
        }
    }
    m_sink(line);
    m_lastMs = std::max(m_lastMs, endMs);
}

void ModuleRecording::WriteExpect(const QByteArray& line, qint64 ms)
{
    // An answer follows its cause however long it took: no wait goes before it.
    m_sink(line);
    m_lastMs = std::max(m_lastMs, ms);
}

void ModuleRecording::WriteSend(qsizetype bytes)
{
    Write(script_line::Send(QByteArrayView(m_burst).first(bytes)), m_burstStartMs, m_burstEndMs);
    m_burst.remove(0, bytes);
    m_burstStartMs = m_burstEndMs;
}

void ModuleRecording::CloseBurst()
{
    if (!m_burst.isEmpty())
        WriteSend(m_burst.size());
}

void ModuleRecording::WritePress()
{
    if (!m_press)
        return;
    const Held press = *std::exchange(m_press, std::nullopt);
    Write(script_line::Point("press", press.point), press.ms, press.ms);
    for (const QByteArray& line : m_pressReports)
        WriteExpect(line, press.ms);
    m_pressReports.clear();
}

void ModuleRecording::Received(QByteArrayView bytes, qint64 ms)
{
    if (bytes.isEmpty())
        return;
    if (!m_burst.isEmpty() && ms - m_burstEndMs > kBurstGapMs)
        CloseBurst();
    WritePress();
    m_move.reset();
    if (m_burst.isEmpty())
        m_burstStartMs = ms;
    m_burst += bytes;
    m_burstEndMs = ms;
    m_stimulusMs = ms;
    while (m_burst.size() > kMostSendBytes) {
        const qsizetype semicolon = QByteArrayView(m_burst).first(kMostSendBytes).lastIndexOf(';');
        WriteSend(semicolon >= 0 ? semicolon + 1 : kMostSendBytes);
    }
}

void ModuleRecording::Acted(const ModuleAction& action, qint64 ms)
{
    using Kind = ModuleAction::Kind;
    CloseBurst();
    if (action.kind == Kind::Move) {
        m_move = Held{action.point, ms};
        return;
    }
    m_move.reset();
    m_stimulusMs = ms;
    switch (action.kind) {
    case Kind::Press:
        WritePress(); // pressed twice without a release between
        m_press = Held{action.point, ms};
        return;
    case Kind::Release:
        if (m_press && m_press->point == action.point && ms - m_press->ms <= kLongestPauseMs) {
            const Held press = *std::exchange(m_press, std::nullopt);
            Write(script_line::Point("touch", press.point), press.ms, ms);
            for (const QByteArray& line : m_pressReports)
                WriteExpect(line, press.ms);
            m_pressReports.clear();
            return;
        }
        WritePress();
        Write(script_line::Point("release", action.point), ms, ms);
        return;
    case Kind::Key:
        WritePress();
        Write(script_line::Key(action.code), ms, ms);
        return;
    case Kind::Event: {
        WritePress();
        const QString name = EventStepName(action.code, action.state, false);
        // Every report the module's menu sends has a step; another one cannot be repeated, and
        // its expect then fails the replay where the report went missing.
        Write(name.isEmpty() ? script_line::Comment(QStringLiteral("report %1 sent by hand")
                                                        .arg(action.code, 2, 16, QLatin1Char('0')))
                             : script_line::Event(name),
              ms, ms);
        return;
    }
    case Kind::Move:
        return;
    }
}

void ModuleRecording::Reported(QByteArrayView reports, qint64 ms)
{
    m_decoder.Feed(reports, m_decoded);
    for (const DecodedReport& report : m_decoded.reports) {
        if (!report.event)
            continue;
        CloseBurst();
        if (m_move) {
            WritePress();
            const Held move = *std::exchange(m_move, std::nullopt);
            Write(script_line::Point("move", move.point), move.ms, move.ms);
            m_stimulusMs = move.ms;
        }
        const QByteArrayView text = report.Text();
        const bool clock = report.code == report_code::kDate || report.code == report_code::kTime;
        const QByteArray line =
            script_line::Expect(clock ? ClockPattern(text) : text,
                                RecordedExpectLimit(m_stimulusMs < 0 ? 0 : ms - m_stimulusMs));
        if (m_press)
            m_pressReports.push_back(line);
        else
            WriteExpect(line, ms);
    }
}

void ModuleRecording::ScreenSaved(const QString& file, qint64 ms)
{
    CloseBurst();
    WritePress();
    m_move.reset();
    const QByteArray line = script_line::Screen(file);
    // A name the script cannot hold is told in the script rather than dropped without a word.
    Write(line.isEmpty()
              ? script_line::Comment(QStringLiteral("screen saved as \"%1\", a name a screen step "
                                                    "cannot hold")
                                         .arg(file))
              : line,
          ms, ms);
}

void ModuleRecording::Finish()
{
    CloseBurst();
    WritePress();
    m_move.reset();
}
