#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class CRunScriptDlg;
class FileSender;
class PortSession;
class QMenu;
class QWidget;
class RandomSource;
class ReceiveView;

// The console's script entries: Record Script in the receive view's menu, Run Script in the
// console's. A recording holds every send of the session (the console's, Send File's and a run's)
// and every report; the title and the receive view say while one runs. A run shares the open
// port in the Run Script window. Both end with the port.
class ConsoleScripts : public QObject
{
    Q_OBJECT

public:
    // Dialogs and messages stand over `console`, whose title names a running recording.
    ConsoleScripts(QWidget* console, ReceiveView* receive, PortSession& session, RandomSource& rng);

    // The window's title without the recording's note; shown now.
    void SetTitle(const QString& title);

    // Records every send and every decoded report into a script at `path` until StopRecording or
    // the port or the console closes. False, with the cause shown, when the file cannot be made.
    bool StartRecording(const QString& path);
    // Puts the recording in place; a failed write is shown once.
    void StopRecording();
    bool IsRecording() const;
    // Runs the script at `path` on the open port in the Run Script window; null, with the reason
    // shown, for a script refused.
    CRunScriptDlg* RunScriptFile(const QString& path);

    // The Record Script entry, for the receive view's menu.
    void AddRecordEntry(QMenu& menu);
    // Asks for the script to record into or to run, without blocking the event loop.
    void AskForScript(bool forRecording);
    // A file's blocks and how its send ended go into the recording.
    void RecordFileSend(FileSender& sender);

    // The port closed, or was lost: a run stops and the recording is put in place.
    void PortClosed();
    // The console is closing: a run stops, and the recording is put in place. The cause of a
    // failed recording, empty when it was written (or none was going on).
    QString End();

private:
    QString FinishRecording();
    // A write failed: the recording has ended, and the user is told at once.
    void OnRecordingFailed(const QString& error);
    void ShowRecordingState();

    QWidget* m_console;
    ReceiveView* m_receive;
    PortSession& m_session;
    RandomSource& m_rng;
    QString m_title;
    QPointer<CRunScriptDlg> m_runScript;
    QString m_scriptFolder; // where the next script file dialog opens
};
