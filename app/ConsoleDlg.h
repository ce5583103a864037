#pragma once

#include "app/ConsoleSettings.h"
#include "commands/Drawing.h"
#include "commands/Style.h"
#include "report/ReportDecoder.h"
#include "report/ReportPresenter.h"
#include "script/ScriptRecorder.h"
#include "serial/CMSComm.h"

#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QEventLoop;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class CRunScriptDlg;
class FileSender;
class RandomSource;
class ReceiveView;

// The test console: one dialog that owns the serial control, the transmit and receive boxes and
// the command buttons. Handlers gather their inputs, let commands/ compose the statement and
// send it; the window adds only the fixed statement every open sends first and the names the
// font and colour rows hand to their composers. The buttons' table and the rows that send one
// composed statement are in ConsoleCommands.cpp.
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

    CMSComm& Comm() { return m_comm; }

    // Sends one statement: optionally shows it in the transmit box, then writes it to the port in
    // randomly sized pieces, each piece its own write.
    void SendCommand(const QByteArray& text, bool echo);

    void FillPortList();
    void UpdateControlStates();

    // Where SetClock takes the local time from; the wall clock unless a test sets another.
    void SetTimeSource(std::function<QDateTime()> now) { m_now = std::move(now); }

    // From a demo's button until the line has taken its output or Demo Off (or Escape) stops it.
    bool IsDemoRunning() const { return m_bDemoRunning; }

    // Records every send and every decoded report into a script at `path` until StopRecording,
    // closing the port or closing the window; the receive view's menu asks for the file. False,
    // with the cause shown, when the file cannot be made.
    bool StartRecording(const QString& path);
    // Puts the recording in place; a failed write is shown once.
    void StopRecording();
    bool IsRecording() const { return m_recorder.IsRecording(); }
    // Runs the script at `path` on the open port in the Run Script window, which the console's
    // menu offers after asking for the file; null, with the reason shown, for a script refused.
    CRunScriptDlg* RunScriptFile(const QString& path);

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
    using Handler = void (CConsoleDlg::*)();
    struct CommandEntry
    {
        int id;
        Handler handler;
    };
    static const CommandEntry kCommandTable[];

    void CreateItems();
    void BindCommands();
    void BindButtons();
    void RunHandler(Handler handler);
    void ShowError(const QString& text);
    // Text the user typed as the line's code page; characters it cannot hold go as "?", and a
    // message names them first, once for the text.
    QByteArray ToLineText(const QString& text);

    void OnInitDialog();
    // Saves the settings; `askUser` shows a failure in a message before the window goes.
    void OnDestroy(bool askUser);
    void ReportUnreadableFiles();
    void ReportSaveFailure(const QString& text, bool askUser);
    void OnCommEvent();
    void OnDeviceLost(const QString& message);
    void ShowAboutBox();
    void OnUnicodeGenerator();
    void AddRecordEntry(QMenu& menu);
    void AskForScript(bool forRecording);
    // The cause of a failed recording, empty when it was written (or none was going on).
    QString FinishRecording();
    // A write failed: the recording has ended, and the user is told at once.
    void OnRecordingFailed(const QString& error);
    // The title and the receive view say whether a recording runs, and into which file.
    void ShowRecordingState();
    // A file's blocks and how its send ended go into the recording.
    void RecordFileSend(FileSender& sender);
    // Recording and a script run end with the port.
    void OnPortClosed();

    // Port row and manual send.
    void OnOpenPort();
    void OnClosePort();
    void OnRefreshPorts();
    void OnSend();
    void OnExit();

    // Drawing rows: each sends one statement, behind a random colour when that option is on.
    void SendDrawing(const QByteArray& statement);
    void OnLine();
    void OnPSet();
    void OnBox();
    void OnBoxFill();
    void OnRoundBox();
    void OnRoundBoxFill();
    void OnCircle();
    void OnCircleFill();
    void OnArc();
    void OnBezier();
    void OnPrint();

    // Control and media rows.
    void OnButtonCtrl();
    void OnEditCtrl();
    void OnCheckboxCtrl();
    void OnSliderCtrl();
    void OnProgressCtrl();
    void OnShowCursor();
    void OnHideCursor();
    void OnDrawImage();
    void OnSound();

    // Style rows: each proposes a statement in the command dialog and sends what the user keeps.
    void SendProposal(const StyleProposal& proposal);
    void OnDotSize();
    void OnColor();
    void OnTextPosTopLeft();
    void OnTextPosRect();
    void OnCtrlFont();
    void OnTextFont();
    void OnTextColor();
    void OnCtrlColor();

    // Demo row and the last row.
    void SendAll(const std::vector<QByteArray>& sends);
    // Waits with the window live; false when the demo must stop: Escape was held at the end or
    // pressed meanwhile, the console is closing, or the port is gone.
    bool DemoWait(int ms);
    void OnDemo1();
    void OnDemo2();
    void OnDemo3();
    void OnDemoOff();
    void UpdateDemoRunning();
    void OnSendFile();
    void OnClear();
    void OnTouchCalibration();
    void OnSetClock();
    void OnOutputDropped(qint64 bytes);
    // Says in the receive view that queued output was dropped, how much and why.
    void NoteNotSent(qint64 bytes, const char* why);

    RandomSource& m_rng;
    // Each read is decoded once, for the view, a recording and a running script alike.
    ReportDecoder m_decoder;
    DecodedRead m_read;
    ReportPresenter m_presenter;
    PSetGrid m_psetGrid;
    FontAlternation m_fonts;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTime(); };
    bool m_destroyed = false;
    bool m_closingForSignal = false;
    ConsoleSettings m_settings;

    bool m_bDemoRunning = false;
    // A handler is running: a click meanwhile (possible while a demo waits with the window live)
    // is ignored, not queued.
    bool m_handlerRunning = false;
    QEventLoop* m_demoWait = nullptr;
    bool m_closeRequested = false;
    // Escape as the application-wide key filter last saw it.
    bool m_escapeHeld = false;
    quint64 m_escapePresses = 0;

    QString m_title; // without the recording's note
    ScriptRecorder m_recorder;
    QPointer<CRunScriptDlg> m_runScript;
    QString m_scriptFolder; // where the next script file dialog opens

    QHash<int, QWidget*> m_items;
    QPushButton* m_btnRefreshPorts = nullptr;
    QPushButton* m_btnSetClock = nullptr;
    QPushButton* m_btnTouchCalibration = nullptr;
    QPushButton* m_btnDemoOff = nullptr;
    QPushButton* m_btnDemo3 = nullptr;
    QPushButton* m_btnDemo2 = nullptr;
    QPushButton* m_btnDemo1 = nullptr;
    ReceiveView* m_richReceive = nullptr;
    QLineEdit* m_editPrintText = nullptr;
    QCheckBox* m_chkRandomTextPos = nullptr;
    QCheckBox* m_chkRandomColor = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QComboBox* m_comboSpeed = nullptr;
    QComboBox* m_comboPort = nullptr;
    QPlainTextEdit* m_editTransmit = nullptr;
    CMSComm m_comm;
};
