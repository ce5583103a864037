// The console's buttons: which handler each runs, and the rows that send one statement that
// commands/ composes.
#include "app/ConsoleDlg.h"

#include "commands/Controls.h"
#include "commands/Format.h"
#include "commands/Session.h"
#include "commands/ui/CommandDlg.h"
#include "resources/ControlIds.h"
#include "support/CodePage.h"
#include "support/ui/WindowUtil.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

const CConsoleDlg::CommandEntry CConsoleDlg::kCommandTable[] = {
    {ids::kOpen, &CConsoleDlg::OnOpenPort},
    {ids::kClose, &CConsoleDlg::OnClosePort},
    {ids::kRefreshPorts, &CConsoleDlg::OnRefreshPorts},
    {ids::kSend, &CConsoleDlg::OnSend},
    {ids::kExit, &CConsoleDlg::OnExit},

    {ids::kLine, &CConsoleDlg::OnLine},
    {ids::kPSet, &CConsoleDlg::OnPSet},
    {ids::kBox, &CConsoleDlg::OnBox},
    {ids::kBoxFill, &CConsoleDlg::OnBoxFill},
    {ids::kRoundBox, &CConsoleDlg::OnRoundBox},
    {ids::kRoundBoxFill, &CConsoleDlg::OnRoundBoxFill},
    {ids::kCircle, &CConsoleDlg::OnCircle},
    {ids::kCircleFill, &CConsoleDlg::OnCircleFill},
    {ids::kArc, &CConsoleDlg::OnArc},
    {ids::kBezier, &CConsoleDlg::OnBezier},
    {ids::kPrint, &CConsoleDlg::OnPrint},

    {ids::kButtonCtrl, &CConsoleDlg::OnButtonCtrl},
    {ids::kEditCtrl, &CConsoleDlg::OnEditCtrl},
    {ids::kCheckboxCtrl, &CConsoleDlg::OnCheckboxCtrl},
    {ids::kSliderCtrl, &CConsoleDlg::OnSliderCtrl},
    {ids::kProgressCtrl, &CConsoleDlg::OnProgressCtrl},
    {ids::kShowCursor, &CConsoleDlg::OnShowCursor},
    {ids::kHideCursor, &CConsoleDlg::OnHideCursor},
    {ids::kDrawImage, &CConsoleDlg::OnDrawImage},
    {ids::kSound, &CConsoleDlg::OnSound},

    {ids::kDotSize, &CConsoleDlg::OnDotSize},
    {ids::kColor, &CConsoleDlg::OnColor},
    {ids::kTextPosTopLeft, &CConsoleDlg::OnTextPosTopLeft},
    {ids::kTextPosRect, &CConsoleDlg::OnTextPosRect},
    {ids::kCtrlFont, &CConsoleDlg::OnCtrlFont},
    {ids::kCtrlColor, &CConsoleDlg::OnCtrlColor},
    {ids::kTextFont, &CConsoleDlg::OnTextFont},
    {ids::kTextColor, &CConsoleDlg::OnTextColor},

    {ids::kDemo1, &CConsoleDlg::OnDemo1},
    {ids::kDemo2, &CConsoleDlg::OnDemo2},
    {ids::kDemo3, &CConsoleDlg::OnDemo3},
    {ids::kDemoOff, &CConsoleDlg::OnDemoOff},
    {ids::kClear, &CConsoleDlg::OnClear},
    {ids::kTouchCalibration, &CConsoleDlg::OnTouchCalibration},
    {ids::kSetClock, &CConsoleDlg::OnSetClock},
};

void CConsoleDlg::BindButtons()
{
    for (const CommandEntry& entry : kCommandTable) {
        auto* button = qobject_cast<QPushButton*>(Item(entry.id));
        Q_ASSERT(button);
        connect(button, &QPushButton::clicked, this,
                [this, handler = entry.handler] { RunHandler(handler); });
    }
}

// A rejected write to the serial control ends the handler at that step; the error is shown and
// whatever the handler had not done yet stays undone.
void CConsoleDlg::RunHandler(Handler handler)
{
    if (m_handlerRunning) {
        // Demo Off is the one button that acts on a running handler: the demo it stops.
        if (handler == &CConsoleDlg::OnDemoOff)
            OnDemoOff();
        return;
    }
    m_handlerRunning = true;
    try {
        (this->*handler)();
    } catch (const std::exception& error) {
        ShowError(QString::fromUtf8(error.what()));
    }
    m_handlerRunning = false;
    // The window was closed while the handler waited; it closes now that the handler is done.
    if (std::exchange(m_closeRequested, false))
        close();
}

void CConsoleDlg::SendDrawing(const QByteArray& statement)
{
    SendCommand(WithRandomColor(m_rng, statement, m_chkRandomColor->isChecked()), true);
}

void CConsoleDlg::OnLine()
{
    SendDrawing(ComposeLine(m_rng));
}
void CConsoleDlg::OnPSet()
{
    SendDrawing(m_psetGrid.Next());
}
void CConsoleDlg::OnBox()
{
    SendDrawing(ComposeBox(m_rng));
}
void CConsoleDlg::OnBoxFill()
{
    SendDrawing(ComposeBoxFill(m_rng));
}
void CConsoleDlg::OnRoundBox()
{
    SendDrawing(ComposeRoundBox(m_rng));
}
void CConsoleDlg::OnRoundBoxFill()
{
    SendDrawing(ComposeRoundBoxFill(m_rng));
}
void CConsoleDlg::OnCircle()
{
    SendDrawing(ComposeCircle(m_rng));
}
void CConsoleDlg::OnCircleFill()
{
    SendDrawing(ComposeCircleFill(m_rng));
}
void CConsoleDlg::OnArc()
{
    SendDrawing(ComposeArc(m_rng));
}
void CConsoleDlg::OnBezier()
{
    SendDrawing(ComposeBezier(m_rng));
}

void CConsoleDlg::OnPrint()
{
    const QString text = CWindowUtil::GetWindowTextTrimmed(m_editPrintText);
    SendDrawing(ComposePrint(m_rng, ToLineText(text), m_chkRandomTextPos->isChecked()));
}

void CConsoleDlg::OnButtonCtrl()
{
    SendCommand(ComposeButtonCtrl(m_rng), true);
}
void CConsoleDlg::OnEditCtrl()
{
    SendCommand(ComposeEditCtrl(), true);
}
void CConsoleDlg::OnCheckboxCtrl()
{
    SendCommand(ComposeCheckboxCtrl(m_rng), true);
}
void CConsoleDlg::OnSliderCtrl()
{
    SendCommand(ComposeSliderCtrl(), true);
}
void CConsoleDlg::OnProgressCtrl()
{
    SendCommand(ComposeProgressCtrl(), true);
}
void CConsoleDlg::OnShowCursor()
{
    SendCommand(ComposeShowCursor(), true);
}
void CConsoleDlg::OnHideCursor()
{
    SendCommand(ComposeHideCursor(), true);
}
void CConsoleDlg::OnDrawImage()
{
    SendCommand(ComposeDrawImage(m_rng), true);
}
void CConsoleDlg::OnSound()
{
    SendCommand(ComposeSound(), true);
}

void CConsoleDlg::SendProposal(const StyleProposal& proposal)
{
    CCommandDlg dialog(this);
    dialog.m_strCommand = FromCp949(proposal.text);
    dialog.m_nSelStart = proposal.selStart;
    dialog.m_nSelEnd = proposal.selEnd;
    if (dialog.exec() == CCommandDlg::kOk)
        SendCommand(ToLineText(dialog.m_strCommand), true);
}

void CConsoleDlg::OnDotSize()
{
    const bool ctrl = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
    SendProposal(ComposeDotSize(m_rng, ctrl));
}
void CConsoleDlg::OnColor()
{
    SendProposal(ComposeColorProposal(m_rng));
}
void CConsoleDlg::OnTextPosTopLeft()
{
    SendProposal(ComposeTextPosTopLeft(m_rng));
}
void CConsoleDlg::OnTextPosRect()
{
    SendProposal(ComposeTextPosRect(m_rng));
}
void CConsoleDlg::OnCtrlFont()
{
    SendProposal(ComposeFont(m_rng, m_fonts, "CtrlFont "));
}
void CConsoleDlg::OnTextFont()
{
    SendProposal(ComposeFont(m_rng, m_fonts, "Textfont "));
}
void CConsoleDlg::OnTextColor()
{
    SendProposal(ComposeStyleColor(m_rng, "TextColor "));
}
void CConsoleDlg::OnCtrlColor()
{
    SendProposal(ComposeStyleColor(m_rng, "CtrlColor "));
}

void CConsoleDlg::OnClear()
{
    SendCommand(ComposeClear(), true);
}

void CConsoleDlg::OnTouchCalibration()
{
    const auto answer = QMessageBox::question(
        QApplication::activeWindow(), QStringLiteral("Touch Calibration"),
        QStringLiteral("A Sharp pen ready ?"), QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        SendCommand(ComposeCalibrate(), true);
}

void CConsoleDlg::OnSetClock()
{
    SendCommand(ComposeSetClock(m_now()), true);
}
