#pragma once

#include <QByteArray>
#include <QObject>

#include <utility>
#include <vector>

class PortSession;
class QEvent;
class QEventLoop;
class QPlainTextEdit;
class QWidget;
class RandomSource;
class ReceiveView;

// The demo buttons. A demo's statements are queued at once, as one send group, and drained by the
// serial control from the event loop; Demo 3 waits between its pictures with the window live. A
// demo runs from its button until the line has taken the last of its output, or until Demo Off
// or Escape stops it: its wait ends, and what it still had queued is dropped and noted in the
// receive view.
class DemoRunner : public QObject
{
    Q_OBJECT

public:
    // The widgets are the console's: a demo's last statement is echoed in `transmit`, and the
    // note of what a stop dropped goes to `receive`.
    DemoRunner(QWidget* console, PortSession& session, RandomSource& rng, QPlainTextEdit* transmit,
               ReceiveView* receive);

    void RunDemo1();
    void RunDemo2();
    // Returns when the pictures are done or the demo was stopped.
    void RunDemo3();
    // Demo Off: nothing when no demo runs.
    void Stop();
    bool IsRunning() const { return m_running; }

    // Escape as the application-wide key filter sees it, for any window: a press stops a running
    // demo when it went to the console, and ends a demo's wait wherever it went.
    void SeeKey(QObject* watched, const QEvent* event);
    // The console is to close: a demo waiting inside its handler stops waiting. True when one
    // was; the close then waits until the handler has returned (TakeCloseRequest).
    bool EndWaitForClose();
    // Whether a close was held back by EndWaitForClose since the last call.
    bool TakeCloseRequest() { return std::exchange(m_closeRequested, false); }

private:
    void SendAll(const std::vector<QByteArray>& sends);
    // Waits with the window live; false when the demo must stop: Escape was held at the end or
    // pressed meanwhile, the console is closing, or the port is gone.
    bool Wait(int ms);
    void UpdateRunning();

    QWidget* m_console;
    PortSession& m_session;
    RandomSource& m_rng;
    QPlainTextEdit* m_transmit;
    ReceiveView* m_receive;
    bool m_running = false;
    QEventLoop* m_wait = nullptr;
    bool m_closeRequested = false;
    // Escape as the key filter last saw it.
    bool m_escapeHeld = false;
    quint64 m_escapePresses = 0;
};
