#pragma once

#include "serial/FileSender.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class ReceiveView;

// The window of one file send: the file, a progress bar of the bytes the line has taken, and
// Cancel. The outcome goes to the receive view as a note, and the window closes itself.
class FileSendDlg : public QDialog
{
    Q_OBJECT

public:
    FileSendDlg(CMSComm& comm, ReceiveView* receive, int bytesPerSecond, QWidget* parent);

    // Lets the user choose a file (without blocking the event loop) and sends it.
    void ChooseAndSend();
    // Raises what this send shows now: the file chooser, or the progress window.
    void BringForward();
    // Sends `path`; false (with Refused raised, and the window deleted) when it cannot start.
    bool Send(const QString& path);

    FileSender& Sender() { return m_sender; }

signals:
    void Refused(const QString& message);

protected:
    void reject() override;

private:
    void OnProgress(qint64 sent, qint64 total);
    void OnFinished(FileSender::Outcome outcome, qint64 notSent);

    FileSender m_sender;
    ReceiveView* m_receive;
    int m_bytesPerSecond;
    QLabel* m_file = nullptr;
    QLabel* m_count = nullptr;
    QProgressBar* m_bar = nullptr;
    int m_shownPermille = -1;
};
