#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// A one-line editor for a proposed statement. The caller sets the text and the range to select;
// the range is selected when the dialog first paints, so the user can overtype the proposed
// values at once. OK hands back the text exactly as typed, empty included.
class CCommandDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CCommandDlg(QWidget* parent = nullptr);

    // Result codes of exec(), as the buttons end the dialog.
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    QString m_strCommand;
    int m_nSelStart = 0;
    int m_nSelEnd = 0;

    QLineEdit* Edit() const { return m_editCommand; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnOK();
    void OnCancel();

    bool m_bSelectPending = true;
    QLineEdit* m_editCommand = nullptr;
};
