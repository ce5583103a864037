#include "script/ScriptRecorder.h"

ScriptRecorder::ScriptRecorder(std::function<qint64()> nowMs) : m_nowMs(std::move(nowMs))
{
    m_steady.start();
}

ScriptRecorder::~ScriptRecorder()
{
    // A recording never stopped is dropped rather than left as a truncated script.
    m_file.Discard();
}

qint64 ScriptRecorder::Now() const
{
    return m_nowMs ? m_nowMs() : m_steady.elapsed();
}

bool ScriptRecorder::Start(const QString& path, QString* error)
{
    if (!m_file.Open(path, error))
        return false;
    // A report half received when the recording starts is not one the recording saw caused.
    m_lines = std::make_unique<ReportLines>();
    m_stimulusMs = -1;
    return true;
}

void ScriptRecorder::Sent(QByteArrayView bytes)
{
    if (!IsRecording() || bytes.isEmpty())
        return;
    m_file.Append(script_line::Send(bytes));
    m_stimulusMs = Now();
}

void ScriptRecorder::Decoded(const std::vector<ColoredText>& pieces)
{
    if (!IsRecording())
        return;
    m_lineBuffer.clear();
    m_lines->FeedDecoded(pieces, m_lineBuffer);
    for (const QByteArray& line : m_lineBuffer)
        Reported(line);
}

void ScriptRecorder::Reported(QByteArrayView line)
{
    if (!IsRecording())
        return;
    const qint64 now = Now();
    if (m_stimulusMs >= 0 && now - m_stimulusMs <= kAnswerWindowMs) {
        m_file.Append(script_line::Expect(line, RecordedExpectLimit(now - m_stimulusMs)));
        return;
    }
    m_file.Append(script_line::Comment(QStringLiteral(
        "Needs a touch or a key on the module: it sent the report below by itself.")));
    m_file.Append(script_line::Expect(line, kUnpromptedMs));
    m_stimulusMs = now;
}

bool ScriptRecorder::Stop(QString* error)
{
    m_lines.reset();
    return m_file.Finish(error);
}
