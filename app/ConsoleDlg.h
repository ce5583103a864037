#pragma once

#include "app/ConsoleScripts.h"
#include "app/ConsoleSettings.h"
#include "app/PortSession.h"

#include <QDateTime>
#include <QDialog>
#include <QHash>

#include <functional>
#include <memory>

class CommandButtons;
class DemoRunner;
class QComboBox;
class QPlainTextEdit;
class RandomSource;
class ReceiveView;

// The test console's window: builds the controls from the dialog template, binds each button to
// what it does, and routes between the controls and the objects that act: the port session (the
// serial control, decoding, recording), the command buttons' rows, the demos and the script
// entries. It keeps the port row, the transmit box's Send and Send File, and the settings it
// shows.
class CConsoleDlg : public QDialog
{
    Q_OBJECT

public:
    // `rng` is the one random source of the run (seeded once at start-up); it must outlive the
    // dialog.
    explicit CConsoleDlg(RandomSource& rng, QWidget* parent = nullptr);
    ~CConsoleDlg() override;

    // The control with this id, as the dialog template places it.
    QWidget* Item(int id) const;

    CMSComm& Comm() { return m_session.Comm(); }
    // Record Script and Run Script.
    ConsoleScripts& Scripts() { return *m_scripts; }

    // Sends one statement as the console sends each: optionally shown in the transmit box first,
    // then written to the port in randomly sized pieces (see PortSession::Send).
    void SendCommand(const QByteArray& text, bool echo);

    // Where SetClock takes the local time from; the wall clock unless a test sets another.
    void SetTimeSource(std::function<QDateTime()> now);

    // From a demo's button until the line has taken its output or Demo Off (or Escape) stops it.
    bool IsDemoRunning() const;

    // Ends the console as a close from the window manager would, for a signal asking the program
    // to end: whatever is open over it is closed, the settings are written, and a failure to
    // save goes to standard error instead of a message waiting for a click.
    void CloseForSignal();

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateItems(RandomSource& rng);
    void BindCommands();
    void OnInitDialog();
    // Saves the settings; `askUser` shows a failure in a message before the window goes.
    void OnDestroy(bool askUser);
    // Runs a button's handler unless one is running already (possible while a demo waits with
    // the window live): that click is ignored, not queued, unless `evenWhileRunning`.
    void RunHandler(const std::function<void()>& handler, bool evenWhileRunning);
    void UpdateControlStates();

    void OnOpenPort();
    void OnSend();
    void OnSendFile();

    ConsoleSettings m_settings;
    bool m_destroyed = false;
    bool m_closingForSignal = false;
    bool m_handlerRunning = false;

    QHash<int, QWidget*> m_items;
    QComboBox* m_ports = nullptr;
    QComboBox* m_speeds = nullptr;
    QPlainTextEdit* m_transmit = nullptr;
    ReceiveView* m_receive = nullptr;

    // They act on the session: declared after it, so they are destroyed before it.
    PortSession m_session;
    std::unique_ptr<CommandButtons> m_commands;
    std::unique_ptr<DemoRunner> m_demos;
    std::unique_ptr<ConsoleScripts> m_scripts;
};
