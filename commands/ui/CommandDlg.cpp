#include "commands/ui/CommandDlg.h"

#include "resources/ControlIds.h"
#include "support/ui/DialogBuilder.h"

#include <QLineEdit>
#include <QPushButton>

CCommandDlg::CCommandDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    const QHash<int, QWidget*> items = BuildDialog(this, CommandTemplate());
    m_editCommand = qobject_cast<QLineEdit*>(items.value(ids::kCommandEdit));
    connect(qobject_cast<QPushButton*>(items.value(ids::kCommandOk)), &QPushButton::clicked, this,
            &CCommandDlg::OnOK);
    connect(qobject_cast<QPushButton*>(items.value(ids::kCommandCancel)), &QPushButton::clicked,
            this, &CCommandDlg::OnCancel);
}

void CCommandDlg::showEvent(QShowEvent* event)
{
    // Set here rather than in the constructor: the caller fills m_strCommand after constructing.
    if (m_bSelectPending) {
        m_editCommand->setText(m_strCommand);
        m_editCommand->setFocus();
    }
    QDialog::showEvent(event);
}

void CCommandDlg::paintEvent(QPaintEvent* event)
{
    if (m_bSelectPending) {
        m_bSelectPending = false;
        // The cursor ends at the selection's end, which scrolls the edited value into view.
        m_editCommand->setSelection(m_nSelStart, m_nSelEnd - m_nSelStart);
    }
    QDialog::paintEvent(event);
}

void CCommandDlg::OnOK()
{
    m_strCommand = m_editCommand->text();
    done(kOk);
}

void CCommandDlg::OnCancel()
{
    done(kCancel);
}
