#include "app/DemoRunner.h"

#include "app/ConsoleMessages.h"
#include "app/PortSession.h"
#include "commands/Demos.h"

#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace {

// The send group of the demos' output, so Demo Off can drop it and nothing else.
constexpr int kDemoGroup = 1;

} // namespace

DemoRunner::DemoRunner(QWidget* console, PortSession& session, RandomSource& rng,
                       QPlainTextEdit* transmit, ReceiveView* receive)
    : m_console(console), m_session(session), m_rng(rng), m_transmit(transmit), m_receive(receive)
{
    CMSComm& comm = m_session.Comm();
    connect(&comm, &CMSComm::OutputTaken, this, &DemoRunner::UpdateRunning);
    connect(&comm, &CMSComm::DeviceLost, this, &DemoRunner::UpdateRunning);
    connect(&comm, &CMSComm::OutputDropped, this, &DemoRunner::UpdateRunning);
}

// Everything is queued before the handler returns; the serial control drains the queue from the
// event loop, so the window stays live while the line catches up. A lost port ends the loop at
// the first failed send.
void DemoRunner::SendAll(const std::vector<QByteArray>& sends)
{
    const SendGroupScope demo(m_session.Comm(), kDemoGroup);
    // Only the last echo could ever be seen, as nothing repaints inside the handler, and echoing
    // each of Demo 1's 10,002 texts would hold the window for most of a second. A send that fails
    // still leaves its own text in the box.
    for (std::size_t i = 0; i < sends.size(); ++i) {
        const bool last = i + 1 == sends.size();
        if (last)
            Echo(m_transmit, sends[i]);
        try {
            m_session.Send(sends[i]);
        } catch (...) {
            if (!last)
                Echo(m_transmit, sends[i]);
            throw;
        }
    }
}

bool DemoRunner::Wait(int ms)
{
    const quint64 pressesBefore = m_escapePresses;
    QEventLoop wait;
    m_wait = &wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    // A lost port ends the wait at once: there is nothing left to show the next picture on.
    QMetaObject::Connection stopOnLoss =
        connect(&m_session.Comm(), &CMSComm::DeviceLost, &wait, &QEventLoop::quit);
    wait.exec();
    disconnect(stopOnLoss);
    m_wait = nullptr;
    return !m_closeRequested && !m_escapeHeld && m_escapePresses == pressesBefore && m_running &&
           m_session.Comm().GetPortOpen();
}

void DemoRunner::RunDemo1()
{
    m_running = true;
    SendAll(Demo1Sends(m_rng));
    UpdateRunning();
}

void DemoRunner::RunDemo2()
{
    m_running = true;
    SendAll(Demo2Sends(m_rng));
    UpdateRunning();
}

void DemoRunner::RunDemo3()
{
    constexpr int kPictureMs = 2000;
    m_running = true;
    SendAll({Demo3Opening()});
    for (int picture = 1; picture <= kDemo3Pictures; ++picture) {
        SendAll(Demo3PictureSends(picture));
        if (!Wait(kPictureMs))
            break;
    }
    UpdateRunning();
}

void DemoRunner::UpdateRunning()
{
    // Demo 3 runs on while its handler waits for the next picture.
    if (m_running && !m_wait && m_session.Comm().QueuedOutputBytes(kDemoGroup) == 0)
        m_running = false;
}

void DemoRunner::Stop()
{
    if (!std::exchange(m_running, false))
        return;
    if (m_wait)
        m_wait->quit();
    CMSComm& comm = m_session.Comm();
    const qint64 dropped = comm.GetPortOpen() ? comm.DropQueuedSends(kDemoGroup) : 0;
    if (dropped > 0)
        NoteNotSent(m_receive, dropped, "the demo was stopped");
}

void DemoRunner::SeeKey(QObject* watched, const QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() != Qt::Key_Escape || key->isAutoRepeat())
        return;
    m_escapeHeld = event->type() == QEvent::KeyPress;
    m_escapePresses += m_escapeHeld ? 1 : 0;
    // A demo stops at once: its waiting output and its wait for the next picture.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (m_escapeHeld && m_running && widget && widget->window() == m_console)
        Stop();
    if (m_escapeHeld && m_wait)
        m_wait->quit();
}

bool DemoRunner::EndWaitForClose()
{
    if (!m_wait)
        return false;
    m_closeRequested = true;
    m_wait->quit();
    return true;
}
