#include "app/CommandButtons.h"

#include "app/ConsoleMessages.h"
#include "app/PortSession.h"
#include "commands/Format.h"
#include "commands/ui/CommandDlg.h"
#include "support/CodePage.h"
#include "support/ui/WindowUtil.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>

CommandButtons::CommandButtons(QWidget* console, PortSession& session, RandomSource& rng,
                               Inputs inputs)
    : m_console(console), m_session(session), m_rng(rng), m_inputs(inputs)
{}

void CommandButtons::Run(const CommandRow& row, const QAbstractButton& button)
{
    CommandContext context{
        m_rng,
        m_psetGrid,
        m_fonts,
        m_inputs.randomTextPos->isChecked(),
        QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier),
        m_now(),
        [this] {
            return ToLineText(m_console, CWindowUtil::GetWindowTextTrimmed(m_inputs.printText));
        },
    };
    switch (row.echo) {
    case EchoRule::Drawing: {
        // The colour's draws come after the statement's.
        const QByteArray statement = row.compose(context).text;
        Send(WithRandomColor(m_rng, statement, m_inputs.randomColor->isChecked()));
        return;
    }
    case EchoRule::AsIs:
        Send(row.compose(context).text);
        return;
    case EchoRule::Proposed: {
        const ComposedStatement proposal = row.compose(context);
        CCommandDlg dialog(m_console);
        dialog.m_strCommand = FromCp949(proposal.text);
        dialog.m_nSelStart = proposal.selStart;
        dialog.m_nSelEnd = proposal.selEnd;
        if (dialog.exec() == CCommandDlg::kOk)
            Send(ToLineText(m_console, dialog.m_strCommand));
        return;
    }
    case EchoRule::Asked: {
        const auto answer = QMessageBox::question(QApplication::activeWindow(), button.text(),
                                                  QString::fromUtf8(row.question),
                                                  QMessageBox::Yes | QMessageBox::No);
        if (answer == QMessageBox::Yes)
            Send(row.compose(context).text);
        return;
    }
    }
}

void CommandButtons::Send(const QByteArray& statement)
{
    Echo(m_inputs.transmit, statement);
    m_session.Send(statement);
}
