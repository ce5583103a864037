// The console's script entries: Record Script in the receive view's menu, Run Script in the
// console's. Kept apart from the window's own code; the console only forwards its sends, those
// of Send File and Run Script, and what its decoder makes of the port's bytes.
#include "app/ConsoleDlg.h"
#include "app/FileSendDlg.h"
#include "app/RunScriptDlg.h"
#include "support/ui/ReceiveView.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

bool CConsoleDlg::StartRecording(const QString& path)
{
    QString error;
    if (!m_recorder.Start(path, &error)) {
        ShowError(QStringLiteral("The script recording could not be started: %1.").arg(error));
        return false;
    }
    ShowRecordingState();
    // A file already on its way: the rest of it is recorded, and the comment says so.
    if (auto* sending = findChild<FileSendDlg*>()) {
        if (FileSender& sender = sending->Sender(); sender.IsSending())
            m_recorder.FileStarted(sender.FileName(), sender.Total(), sender.TakenTold());
    }
    return true;
}

void CConsoleDlg::StopRecording()
{
    const QString failure = FinishRecording();
    if (!failure.isEmpty())
        ShowError(failure);
}

QString CConsoleDlg::FinishRecording()
{
    QString error;
    const bool written = m_recorder.Stop(&error);
    ShowRecordingState();
    if (written)
        return {};
    return QStringLiteral("The script recording could not be written, and the file keeps what it "
                          "held before: %1.")
        .arg(error);
}

void CConsoleDlg::OnRecordingFailed(const QString& error)
{
    ShowRecordingState();
    ShowError(QStringLiteral("The script recording has stopped: it could not be written (%1). "
                             "The file keeps what it held before.")
                  .arg(error));
}

void CConsoleDlg::ShowRecordingState()
{
    const QString name = QFileInfo(m_recorder.Path()).fileName();
    const bool recording = IsRecording();
    setWindowTitle(recording ? QStringLiteral("%1 \u2014 recording to %2").arg(m_title, name)
                             : m_title);
    m_richReceive->SetStatusMark(recording ? QStringLiteral("\u25CF Recording to %1").arg(name)
                                           : QString());
}

void CConsoleDlg::RecordFileSend(FileSender& sender)
{
    connect(&sender, &FileSender::Started, this,
            [this](const QString& name, qint64 total) { m_recorder.FileStarted(name, total, 0); });
    connect(&sender, &FileSender::Taken, this,
            [this](const QByteArray& bytes) { m_recorder.FileSent(bytes); });
    connect(&sender, &FileSender::Finished, this,
            [this, &sender](FileSender::Outcome outcome, qint64 notSent) {
                const QString note = FileSendNote(sender.FileName(), outcome, sender.Total(),
                                                  notSent, sender.ReadError());
                // The note's brackets set it apart in the receive view; a comment needs none.
                m_recorder.FileFinished(note.mid(1, note.size() - 2));
            });
}

CRunScriptDlg* CConsoleDlg::RunScriptFile(const QString& path)
{
    if (m_runScript) {
        // One run at a time on the one port; the window of the last one makes way.
        m_runScript->Stop();
        m_runScript->close();
    }
    auto* dialog = new CRunScriptDlg(m_comm, m_rng, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The run writes to the port itself; its sends are the session's as much as the console's.
    connect(&dialog->Runner(), &ScriptRunner::Sent, this,
            [this](const QByteArray& bytes) { m_recorder.Sent(bytes); });
    QString error;
    if (!dialog->Start(path, &error)) {
        delete dialog;
        ShowError(QStringLiteral("The script was not run:\n%1").arg(error));
        return nullptr;
    }
    m_runScript = dialog;
    dialog->show();
    return dialog;
}

void CConsoleDlg::OnPortClosed()
{
    if (m_runScript)
        m_runScript->Stop(QStringLiteral("the port was closed"));
    StopRecording();
}

void CConsoleDlg::AddRecordEntry(QMenu& menu)
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
                            .arg(QDir::toNativeSeparators(m_recorder.Path())));
    // Nothing can be sent or received on a closed port; stopping is always offered.
    record->setEnabled(IsRecording() || m_comm.GetPortOpen());
}

// Modeless, like the view's own file dialogs: the port keeps being read while it is open.
void CConsoleDlg::AskForScript(bool forRecording)
{
    if (m_scriptFolder.isEmpty())
        m_scriptFolder = QDir::homePath();
    auto* dialog = new QFileDialog(
        this, forRecording ? QStringLiteral("Record Script") : QStringLiteral("Run Script"),
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
        if (!m_comm.GetPortOpen()) {
            ShowError(QStringLiteral("The port is not open."));
            return;
        }
        if (forRecording)
            StartRecording(path);
        else
            RunScriptFile(path);
    });
    dialog->open();
}
