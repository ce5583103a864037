#include "app/ConsoleScripts.h"

#include "app/ConsoleMessages.h"
#include "app/FileSendDlg.h"
#include "app/PortSession.h"
#include "app/RunScriptDlg.h"
#include "support/ui/ReceiveView.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

ConsoleScripts::ConsoleScripts(QWidget* console, ReceiveView* receive, PortSession& session,
                               RandomSource& rng)
    : m_console(console), m_receive(receive), m_session(session), m_rng(rng)
{
    m_session.Recorder().SetFailureHandler(
        [this](const QString& error) { OnRecordingFailed(error); });
}

void ConsoleScripts::SetTitle(const QString& title)
{
    m_title = title;
    m_console->setWindowTitle(m_title);
}

bool ConsoleScripts::StartRecording(const QString& path)
{
    QString error;
    if (!m_session.Recorder().Start(path, &error)) {
        ShowError(m_console,
                  QStringLiteral("The script recording could not be started: %1.").arg(error));
        return false;
    }
    ShowRecordingState();
    // A file already on its way: the rest of it is recorded, and the comment says so.
    if (auto* sending = m_console->findChild<FileSendDlg*>()) {
        if (FileSender& sender = sending->Sender(); sender.IsSending())
            m_session.Recorder().FileStarted(sender.FileName(), sender.Total(), sender.TakenTold());
    }
    return true;
}

void ConsoleScripts::StopRecording()
{
    const QString failure = FinishRecording();
    if (!failure.isEmpty())
        ShowError(m_console, failure);
}

bool ConsoleScripts::IsRecording() const
{
    return m_session.Recorder().IsRecording();
}

QString ConsoleScripts::FinishRecording()
{
    QString error;
    const bool written = m_session.Recorder().Stop(&error);
    ShowRecordingState();
    if (written)
        return {};
    return QStringLiteral("The script recording could not be written, and the file keeps what it "
                          "held before: %1.")
        .arg(error);
}

void ConsoleScripts::OnRecordingFailed(const QString& error)
{
    ShowRecordingState();
    ShowError(m_console,
              QStringLiteral("The script recording has stopped: it could not be written (%1). "
                             "The file keeps what it held before.")
                  .arg(error));
}

void ConsoleScripts::ShowRecordingState()
{
    const QString name = QFileInfo(m_session.Recorder().Path()).fileName();
    const bool recording = IsRecording();
    m_console->setWindowTitle(
        recording ? QStringLiteral("%1 \u2014 recording to %2").arg(m_title, name) : m_title);
    m_receive->SetStatusMark(recording ? QStringLiteral("\u25CF Recording to %1").arg(name)
                                       : QString());
}

void ConsoleScripts::RecordFileSend(FileSender& sender)
{
    ScriptRecorder& recorder = m_session.Recorder();
    connect(&sender, &FileSender::Started, this, [&recorder](const QString& name, qint64 total) {
        recorder.FileStarted(name, total, 0);
    });
    connect(&sender, &FileSender::Taken, this,
            [&recorder](const QByteArray& bytes) { recorder.FileSent(bytes); });
    connect(&sender, &FileSender::Finished, this,
            [&recorder, &sender](FileSender::Outcome outcome, qint64 notSent) {
                const QString note = FileSendNote(sender.FileName(), outcome, sender.Total(),
                                                  notSent, sender.ReadError());
                // The note's brackets set it apart in the receive view; a comment needs none.
                recorder.FileFinished(note.mid(1, note.size() - 2));
            });
}

CRunScriptDlg* ConsoleScripts::RunScriptFile(const QString& path)
{
    if (m_runScript) {
        // One run at a time on the one port; the window of the last one makes way.
        m_runScript->Stop();
        m_runScript->close();
    }
    auto* dialog = new CRunScriptDlg(m_session.Comm(), m_rng, m_console);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_session.SetScript(&dialog->Runner());
    QString error;
    if (!dialog->Start(path, &error)) {
        delete dialog;
        ShowError(m_console, QStringLiteral("The script was not run:\n%1").arg(error));
        return nullptr;
    }
    m_runScript = dialog;
    dialog->show();
    return dialog;
}

void ConsoleScripts::PortClosed()
{
    if (m_runScript)
        m_runScript->Stop(QStringLiteral("the port was closed"));
    StopRecording();
}

QString ConsoleScripts::End()
{
    if (m_runScript)
        m_runScript->Stop(QStringLiteral("the console was closed"));
    return FinishRecording();
}

void ConsoleScripts::AddRecordEntry(QMenu& menu)
{
    QAction* record = menu.addAction(QStringLiteral("Record Script..."), this, [this] {
        if (IsRecording())
            StopRecording();
        else
            AskForScript(true);
    });
    record->setCheckable(true);
    record->setChecked(IsRecording());
    if (IsRecording())
        record->setText(QStringLiteral("Record Script... (%1)")
                            .arg(QDir::toNativeSeparators(m_session.Recorder().Path())));
    // Nothing can be sent or received on a closed port; stopping is always offered.
    record->setEnabled(IsRecording() || m_session.Comm().GetPortOpen());
}

// Modeless, like the view's own file dialogs: the port keeps being read while it is open.
void ConsoleScripts::AskForScript(bool forRecording)
{
    if (m_scriptFolder.isEmpty())
        m_scriptFolder = QDir::homePath();
    auto* dialog = new QFileDialog(
        m_console, forRecording ? QStringLiteral("Record Script") : QStringLiteral("Run Script"),
        m_scriptFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setNameFilters(
        {QStringLiteral("Test scripts (*.ots)"), QStringLiteral("All files (*)")});
    if (forRecording) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(QStringLiteral("ots"));
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    connect(dialog, &QFileDialog::fileSelected, this, [this, forRecording](const QString& path) {
        m_scriptFolder = QFileInfo(path).absolutePath();
        // The port may have closed while the dialog was open.
        if (!m_session.Comm().GetPortOpen()) {
            ShowError(m_console, QStringLiteral("The port is not open."));
            return;
        }
        if (forRecording)
            StartRecording(path);
        else
            RunScriptFile(path);
    });
    dialog->open();
}
