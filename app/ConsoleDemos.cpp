// The demo buttons: their statements are queued at once and drained by the serial control from
// the event loop, as one send group that Demo Off (or Escape) can drop.
#include "app/ConsoleDlg.h"

#include "commands/Demos.h"
#include "support/CodePage.h"

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

// The send group of the demos' output, so Demo Off can drop it and nothing else.
constexpr int kDemoGroup = 1;

} // namespace

// Everything is queued before the handler returns; the serial control drains the queue from the
// event loop, so the window stays live while the line catches up. A lost port ends the loop at
// the first failed send.
void CConsoleDlg::SendAll(const std::vector<QByteArray>& sends)
{
    const SendGroupScope demo(m_comm, kDemoGroup);
    // Only the last echo could ever be seen, as nothing repaints inside the handler, and echoing
    // each of Demo 1's 10,002 texts would hold the window for most of a second. A send that fails
    // still leaves its own text in the box.
    for (std::size_t i = 0; i < sends.size(); ++i) {
        const bool last = i + 1 == sends.size();
        try {
            SendCommand(sends[i], last);
        } catch (...) {
            if (!last)
                m_editTransmit->setPlainText(FromCp949(sends[i]));
            throw;
        }
    }
}

bool CConsoleDlg::DemoWait(int ms)
{
    const quint64 pressesBefore = m_escapePresses;
    QEventLoop wait;
    m_demoWait = &wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    // A lost port ends the wait at once: there is nothing left to show the next picture on.
    QMetaObject::Connection stopOnLoss =
        connect(&m_comm, &CMSComm::DeviceLost, &wait, &QEventLoop::quit);
    wait.exec();
    disconnect(stopOnLoss);
    m_demoWait = nullptr;
    return !m_closeRequested && !m_escapeHeld && m_escapePresses == pressesBefore &&
           m_bDemoRunning && m_comm.GetPortOpen();
}

// A demo runs from its button until the line has taken the last of its output, or Demo Off.
void CConsoleDlg::OnDemo1()
{
    m_bDemoRunning = true;
    SendAll(Demo1Sends(m_rng));
    UpdateDemoRunning();
}

void CConsoleDlg::OnDemo2()
{
    m_bDemoRunning = true;
    SendAll(Demo2Sends(m_rng));
    UpdateDemoRunning();
}

void CConsoleDlg::OnDemo3()
{
    constexpr int kPictureMs = 2000;
    m_bDemoRunning = true;
    SendAll({Demo3Opening()});
    for (int picture = 1; picture <= kDemo3Pictures; ++picture) {
        SendAll(Demo3PictureSends(picture));
        if (!DemoWait(kPictureMs))
            break;
    }
    UpdateDemoRunning();
}

void CConsoleDlg::UpdateDemoRunning()
{
    // Demo 3 runs on while its handler waits for the next picture.
    if (m_bDemoRunning && !m_demoWait && m_comm.QueuedOutputBytes(kDemoGroup) == 0)
        m_bDemoRunning = false;
}

void CConsoleDlg::OnDemoOff()
{
    if (!std::exchange(m_bDemoRunning, false))
        return;
    if (m_demoWait)
        m_demoWait->quit();
    const qint64 dropped = m_comm.GetPortOpen() ? m_comm.DropQueuedSends(kDemoGroup) : 0;
    if (dropped > 0)
        NoteNotSent(dropped, "the demo was stopped");
}
