#include "app/PortSession.h"

#include "script/ScriptRunner.h"
#include "serial/Pieces.h"
#include "trace/TraceClient.h"

PortSession::PortSession(RandomSource& rng, QObject* parent)
    : QObject(parent), m_rng(rng), m_presenter(rng)
{
    // Connected first, so whoever else listens to the control sees a read already handed on, and
    // a loss already told to the running script.
    connect(&m_comm, &CMSComm::CommEvent, this, &PortSession::OnCommEvent);
    connect(&m_comm, &CMSComm::DeviceLost, this, &PortSession::OnDeviceLost);
}

void PortSession::Open(int port, const QString& settings)
{
    if (m_comm.GetPortOpen())
        m_comm.SetPortOpen(false);
    m_comm.SetCommPort(static_cast<short>(qBound(-1, port, 32767)));
    TraceText(QByteArray("Set Comm Port ") + QByteArray::number(port), false);
    m_comm.SetSettings(settings);
    m_comm.SetRThreshold(1);
    m_comm.SetInputMode(1);
    m_comm.SetPortOpen(true);
}

void PortSession::Close()
{
    m_comm.SetPortOpen(false);
}

void PortSession::Send(const QByteArray& statement)
{
    SendInPieces(m_comm, statement, m_rng);
    m_recorder.Sent(statement);
}

void PortSession::SetScript(ScriptRunner* run)
{
    if (m_script)
        disconnect(m_script, &ScriptRunner::Sent, this, nullptr);
    m_script = run;
    // The run writes to the port itself; its sends are the session's as much as the console's.
    if (run)
        connect(run, &ScriptRunner::Sent, this,
                [this](const QByteArray& bytes) { m_recorder.Sent(bytes); });
}

// Every read is decoded once, here, for all who take it.
void PortSession::OnCommEvent()
{
    if (m_comm.GetCommEvent() != CMSComm::kEventReceive)
        return;
    const QByteArray bytes = m_comm.GetInput();
    m_decoder.Feed(bytes, m_read);
    m_presenter.Present(bytes, m_read, m_pieces);
    emit Decoded(m_pieces);
    m_presenter.Recycle(m_pieces);
    m_recorder.Decoded(m_read);
    if (m_script)
        m_script->Receive(m_read.reports);
}

void PortSession::OnDeviceLost(const QString& message)
{
    // A run fails its step with the cause first; the close that follows would read to it as a
    // stop.
    if (m_script)
        m_script->PortLost(message);
    emit Lost(message);
}
