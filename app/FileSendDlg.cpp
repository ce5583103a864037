#include "app/FileSendDlg.h"

#include "support/ui/ControlUtil.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kPermille = 1000;

} // namespace

FileSendDlg::FileSendDlg(CMSComm& comm, ReceiveView* receive, int bytesPerSecond, QWidget* parent)
    : QDialog(parent), m_sender(comm), m_receive(receive), m_bytesPerSecond(bytesPerSecond)
{
    setWindowTitle(QStringLiteral("Send File"));
    auto* layout = new QVBoxLayout(this);
    m_file = new QLabel(this);
    m_count = new QLabel(this);
    m_bar = new QProgressBar(this);
    // Per mille, not bytes: a progress bar counts in int, and files may pass 2 GiB.
    m_bar->setRange(0, kPermille);
    m_bar->setTextVisible(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    layout->addWidget(m_file);
    layout->addWidget(m_bar);
    layout->addWidget(m_count);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &FileSendDlg::reject);
    connect(&m_sender, &FileSender::Progress, this, &FileSendDlg::OnProgress);
    connect(&m_sender, &FileSender::Finished, this, &FileSendDlg::OnFinished);
}

void FileSendDlg::ChooseAndSend()
{
    auto* chooser = new QFileDialog(this, QStringLiteral("Send File"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setFileMode(QFileDialog::ExistingFile);
    connect(chooser, &QFileDialog::fileSelected, this, &FileSendDlg::Send);
    connect(chooser, &QFileDialog::rejected, this, &QObject::deleteLater);
    chooser->open();
}

void FileSendDlg::BringForward()
{
    QWidget* shown = isVisible() ? static_cast<QWidget*>(this) : findChild<QFileDialog*>();
    if (shown) {
        shown->raise();
        shown->activateWindow();
    }
}

bool FileSendDlg::Send(const QString& path)
{
    const QString refusal = m_sender.Start(path, m_bytesPerSecond);
    if (!refusal.isEmpty()) {
        emit Refused(refusal);
        deleteLater();
        return false;
    }
    if (m_sender.IsSending()) { // a small file may be on the line already
        m_file->setText(QStringLiteral("Sending %1").arg(m_sender.FileName()));
        show();
    }
    return true;
}

void FileSendDlg::reject()
{
    // Closing the window is a cancel, too.
    if (m_sender.IsSending())
        m_sender.Cancel();
    else
        deleteLater();
}

void FileSendDlg::OnProgress(qint64 sent, qint64 total)
{
    // Thousands of passes a second report progress; the window is told only when it shows.
    const int permille = static_cast<int>(sent * kPermille / total);
    if (permille == m_shownPermille)
        return;
    m_shownPermille = permille;
    m_bar->setValue(permille);
    m_count->setText(QStringLiteral("%L1 of %L2 bytes sent").arg(sent).arg(total));
}

void FileSendDlg::OnFinished(FileSender::Outcome outcome, qint64 notSent)
{
    const QString note =
        FileSendNote(m_sender.FileName(), outcome, m_sender.Total(), notSent, m_sender.ReadError());
    CControlUtil::AppendColoredText(m_receive, (QStringLiteral("\r\n") + note + "\r\n").toLatin1(),
                                    0x0000C0, true);
    hide();
    deleteLater();
}
