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
    m_reportMayHaveBegunBefore = true;
    m_stimulusMs = -1;
    m_fileBlocksRecorded = false;
    return true;
}

void ScriptRecorder::Write(QByteArrayView lines)
{
    m_file.Append(lines);
    if (m_file.Error().isEmpty())
        return;
    // Dropped at once: an unnamed temporary file on a full disk would hold the space for as long
    // as the recording ran, and nothing more could be recorded anyway.
    const QString error = m_file.Error();
    m_file.Discard();
    if (m_onFailed)
        m_onFailed(error);
}

void ScriptRecorder::Sent(QByteArrayView bytes)
{
    if (!IsRecording() || bytes.isEmpty())
        return;
    m_stimulusMs = Now();
    Write(script_line::Send(bytes));
}

void ScriptRecorder::Decoded(const DecodedRead& read)
{
    if (!IsRecording())
        return;
    // One write for all the lines of a read: the file is unbuffered, and a burst of reports
    // written a line at a time cost several times the decoding itself.
    m_batch.clear();
    for (const DecodedReport& report : read.reports) {
        // Its start byte came in an earlier read; that is before the recording only while no
        // report has ended or started since.
        const bool begunEarlier = report.end + 1 < report.rawLength;
        if (report.event && !(begunEarlier && m_reportMayHaveBegunBefore))
            AddExpect(report.Text(), m_batch);
    }
    if (!read.reports.empty() || !read.starts.empty())
        m_reportMayHaveBegunBefore = false;
    if (m_batch.isEmpty())
        return;
    m_batch.chop(1);
    Write(m_batch);
}

void ScriptRecorder::Reported(QByteArrayView line)
{
    if (!IsRecording())
        return;
    m_batch.clear();
    AddExpect(line, m_batch);
    m_batch.chop(1);
    Write(m_batch);
}

void ScriptRecorder::FileStarted(const QString& name, qint64 size, qint64 alreadySent)
{
    if (!IsRecording())
        return;
    m_fileBlocksRecorded = size <= kMostFileBytes;
    QString comment = QStringLiteral("Send File: %1, %2 bytes").arg(name).arg(size);
    if (alreadySent > 0)
        comment += QStringLiteral(", %1 of them sent before this recording began").arg(alreadySent);
    comment += m_fileBlocksRecorded
                   ? QStringLiteral("; the sends below repeat it block by block.")
                   : QStringLiteral("; not repeated here: files over %1 bytes are left out of "
                                    "recordings.")
                         .arg(kMostFileBytes);
    Write(script_line::Comment(comment));
}

void ScriptRecorder::FileSent(QByteArrayView bytes)
{
    if (m_fileBlocksRecorded)
        Sent(bytes);
}

void ScriptRecorder::FileFinished(const QString& note)
{
    m_fileBlocksRecorded = false;
    if (IsRecording())
        Write(script_line::Comment(note));
}

void ScriptRecorder::AddExpect(QByteArrayView line, QByteArray& out)
{
    const qint64 now = Now();
    if (m_stimulusMs >= 0 && now - m_stimulusMs <= kAnswerWindowMs) {
        out += script_line::Expect(line, RecordedExpectLimit(now - m_stimulusMs)) + '\n';
        return;
    }
    out += script_line::Comment(QStringLiteral(
               "Needs a touch or a key on the module: it sent the report below by itself.")) +
           '\n';
    out += script_line::Expect(line, kUnpromptedMs) + '\n';
    m_stimulusMs = now;
}

bool ScriptRecorder::Stop(QString* error)
{
    return m_file.Finish(error);
}
