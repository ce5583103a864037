#include "app/ConsoleDlg.h"

#include "app/AboutBox.h"
#include "app/ConsoleSizing.h"
#include "app/FileSendDlg.h"
#include "app/PortSelection.h"
#include "app/RunScriptDlg.h"
#include "resources/AppIcon.h"
#include "resources/ControlIds.h"
#include "resources/VersionText.h"
#include "serial/Pieces.h"
#include "serial/PortFolder.h"
#include "support/CodePage.h"
#include "support/Paths.h"
#include "support/ui/ControlUtil.h"
#include "support/ui/DialogBuilder.h"
#include "support/ui/ReceiveView.h"
#include "support/ui/TransmitBox.h"
#include "support/ui/WindowUtil.h"
#include "trace/TraceClient.h"
#include "unicode/ui/UnicodeGenDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Statement sent after every open, so the module starts each session from a known state.
constexpr QByteArrayView kMakeTestEnvironment = "MakeTestEnvironment;";

bool IsEnterOrEscape(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease &&
        event->type() != QEvent::ShortcutOverride)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

} // namespace

CConsoleDlg::CConsoleDlg(RandomSource& rng, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_rng(rng), m_presenter(rng)
{
    CreateItems();
    BindCommands();
    OnInitDialog();
}

CConsoleDlg::~CConsoleDlg()
{
    // A console destroyed without being closed (the application quitting under it) still keeps
    // what the user set.
    OnDestroy(false);
}

QWidget* CConsoleDlg::Item(int id) const
{
    return m_items.value(id);
}

void CConsoleDlg::CreateItems()
{
    m_items = BuildDialog(this, ConsoleTemplate());
    auto button = [this](int id) { return qobject_cast<QPushButton*>(Item(id)); };
    m_btnRefreshPorts = button(ids::kRefreshPorts);
    m_btnSetClock = button(ids::kSetClock);
    m_btnTouchCalibration = button(ids::kTouchCalibration);
    m_btnDemoOff = button(ids::kDemoOff);
    m_btnDemo3 = button(ids::kDemo3);
    m_btnDemo2 = button(ids::kDemo2);
    m_btnDemo1 = button(ids::kDemo1);
    m_richReceive = qobject_cast<ReceiveView*>(Item(ids::kReceive));
    m_editPrintText = qobject_cast<QLineEdit*>(Item(ids::kPrintText));
    m_chkRandomTextPos = qobject_cast<QCheckBox*>(Item(ids::kRandomTextPos));
    m_chkRandomColor = qobject_cast<QCheckBox*>(Item(ids::kRandomColor));
    m_btnClose = button(ids::kClose);
    m_btnOpen = button(ids::kOpen);
    m_comboSpeed = qobject_cast<QComboBox*>(Item(ids::kSpeedList));
    m_comboPort = qobject_cast<QComboBox*>(Item(ids::kPortList));
    m_editTransmit = qobject_cast<QPlainTextEdit*>(Item(ids::kTransmit));

    m_richReceive->setAccessibleName(QStringLiteral("RX"));
    m_editTransmit->setAccessibleName(QStringLiteral("TX"));
    m_comm.setObjectName(QStringLiteral("ctrl%1").arg(ids::kSerialControl));
    m_comm.setProperty("ctrlId", ids::kSerialControl);
    m_richReceive->SetMenuExtension([this](QMenu& menu) { AddRecordEntry(menu); });
    m_recorder.SetFailureHandler([this](const QString& error) { OnRecordingFailed(error); });
    new ConsoleSizing(this, m_editTransmit, m_richReceive);
}

void CConsoleDlg::BindCommands()
{
    BindButtons();
    connect(&m_comm, &CMSComm::CommEvent, this, &CConsoleDlg::OnCommEvent);
    connect(&m_comm, &CMSComm::DeviceLost, this, &CConsoleDlg::OnDeviceLost);
    connect(&m_comm, &CMSComm::OutputDropped, this, &CConsoleDlg::OnOutputDropped);
    connect(&m_comm, &CMSComm::OutputTaken, this, &CConsoleDlg::UpdateDemoRunning);
    connect(&m_comm, &CMSComm::DeviceLost, this, &CConsoleDlg::UpdateDemoRunning);
    connect(&m_comm, &CMSComm::OutputDropped, this, &CConsoleDlg::UpdateDemoRunning);
    auto* sendFile = new QAction(QStringLiteral("Send File..."), m_editTransmit);
    connect(sendFile, &QAction::triggered, this, &CConsoleDlg::OnSendFile);
    m_editTransmit->addAction(sendFile);
    connect(m_comboPort, &QComboBox::activated, this, [this] { m_settings.ForgetSavedPort(); });
    connect(qobject_cast<TransmitBox*>(m_editTransmit), &TransmitBox::Refused, this,
            [this](qsizetype wanted) {
                ShowError(QStringLiteral("The transmit box holds at most %L1 characters; the "
                                         "text would have made it %L2. Nothing was inserted.")
                              .arg(TransmitBox::kMaxCharacters)
                              .arg(wanted));
            });
    qApp->installEventFilter(this);
}

void CConsoleDlg::ShowError(const QString& text)
{
    // A device lost in the middle of a send is reported twice, by the failed write and by the
    // control's own loss event; the user is told once.
    for (const QMessageBox* shown : findChildren<QMessageBox*>())
        if (shown->isVisible() && shown->text() == text)
            return;
    // Window-modal but not blocking: the event loop, and so the port, keeps running while the
    // message is up.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CConsoleDlg::ReportUnreadableFiles()
{
    const QString text = m_settings.ReadProblems();
    if (text.isEmpty())
        return;
    std::fprintf(stderr, "orvexa-testbox: %s\n", qPrintable(text));
    // Once the window shows, so the message stands over it rather than alone on the desktop.
    QTimer::singleShot(0, this, [this, text] { ShowError(text); });
}

void CConsoleDlg::ReportSaveFailure(const QString& text, bool askUser)
{
    // Standard error always: a console ended by a signal or by the session going away has no
    // one to click a message.
    std::fprintf(stderr, "orvexa-testbox: %s\n", qPrintable(text));
    if (!askUser)
        return;
    // Blocking, before the window goes: afterwards there is nothing left to tell the user with.
    // A signal arriving meanwhile closes it (see CloseForSignal).
    QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box.exec();
}

void CConsoleDlg::CloseForSignal()
{
    m_closingForSignal = true;
    // Dialogs and messages open over the console are closed first, innermost first: each runs
    // its own loop, and the console cannot end under them. Bounded, so a window that refuses to
    // close cannot keep the program here.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    // Already saving (a message about it was up): that close goes on by itself.
    if (!m_destroyed)
        close();
}

void CConsoleDlg::OnInitDialog()
{
    setWindowIcon(AppIcon());

    const ConsoleOptions saved = m_settings.Load(TransmitBox::kMaxCharacters);
    ReportUnreadableFiles();

    FillPortList();
    QStringList entries;
    for (int i = 0; i < m_comboPort->count(); ++i)
        entries.append(m_comboPort->itemText(i));
    m_comboPort->setCurrentIndex(PortEntryToSelect(entries, saved.port));
    m_settings.SetSavedPortListed(m_comboPort->currentIndex() >= 0);

    for (int i = 0; i < kSpeedCount; ++i)
        m_comboSpeed->addItem(GetBaudRateText(i));

    const LoadedText& text = m_settings.SavedText();
    m_editTransmit->setPlainText(text.text);
    // The box itself may change what it is given (line ends, non-breaking spaces).
    m_settings.SetTransmitShown(m_editTransmit->toPlainText());
    if (text.tooLarge)
        m_editTransmit->setPlaceholderText(
            QStringLiteral("hcode.txt holds %L1 bytes, more than the transmit box shows (%L2 "
                           "characters). It is kept as it is unless you type here.")
                .arg(text.fileBytes)
                .arg(TransmitBox::kMaxCharacters));

    m_comboSpeed->setCurrentIndex(
        saved.speedIndex >= 0 && saved.speedIndex < kSpeedCount ? saved.speedIndex : -1);
    m_chkRandomColor->setChecked(saved.randomColor);
    m_chkRandomTextPos->setChecked(saved.randomTextPos);
    m_editPrintText->setText(saved.printText);
    m_richReceive->SetTimeStamps(saved.timeStamps);

    UpdateControlStates();

    const bool demos = IsTraceEnabled();
    for (QPushButton* demo : {m_btnDemo1, m_btnDemo2, m_btnDemo3, m_btnDemoOff})
        demo->setVisible(demos);

    m_title = QStringLiteral("OrvexaLCD TestBox ") + VersionText(ProductVersion());
    setWindowTitle(m_title);
}

void CConsoleDlg::closeEvent(QCloseEvent* event)
{
    // A demo waiting inside its handler is ended first; unwinding it closes the window.
    if (m_demoWait) {
        m_closeRequested = true;
        m_demoWait->quit();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CConsoleDlg::done(int result)
{
    OnDestroy(!m_closingForSignal);
    QDialog::done(result);
}

void CConsoleDlg::OnDestroy(bool askUser)
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    qApp->removeEventFilter(this);

    ConsoleOptions options;
    options.port = PortNumberFromText(CWindowUtil::GetWindowText(m_comboPort), true);
    options.speedIndex = m_comboSpeed->currentIndex();
    options.randomColor = m_chkRandomColor->isChecked();
    options.randomTextPos = m_chkRandomTextPos->isChecked();
    options.printText = CWindowUtil::GetWindowText(m_editPrintText);
    options.timeStamps = m_richReceive->TimeStamps();
    QString failure = m_settings.Save(options, CWindowUtil::GetWindowText(m_editTransmit));

    if (m_comm.GetPortOpen())
        m_comm.SetPortOpen(false);
    if (m_runScript)
        m_runScript->Stop(QStringLiteral("the console was closed"));
    const QString recording = FinishRecording();
    if (!recording.isEmpty())
        failure += (failure.isEmpty() ? QString() : QStringLiteral("\n")) + recording;
    // Whatever the log has gathered goes to its file now, the closing lines included.
    m_richReceive->StopLog();
    // Last, so the port and the log are not held while the message waits for the user.
    if (!failure.isEmpty())
        ReportSaveFailure(failure, askUser);
}

bool CConsoleDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Enter and Escape do nothing anywhere on the console: neither closes it, nor presses a
    // button, nor breaks a line in the transmit box. Other windows (message boxes, the About
    // box) keep their keys.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) {
            m_escapeHeld = event->type() == QEvent::KeyPress;
            m_escapePresses += m_escapeHeld ? 1 : 0;
            // A demo stops at once: its waiting output and its wait for the next picture.
            auto* widget = qobject_cast<QWidget*>(watched);
            if (m_escapeHeld && m_bDemoRunning && widget && widget->window() == this)
                OnDemoOff();
            if (m_escapeHeld && m_demoWait)
                m_demoWait->quit();
        }
    }
    if (IsEnterOrEscape(event)) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CConsoleDlg::contextMenuEvent(QContextMenuEvent* event)
{
    const QString about = LoadString(ids::kStrAboutEntry);
    if (about.isEmpty())
        return;
    QMenu menu(this);
    menu.addAction(about, this, &CConsoleDlg::ShowAboutBox);
    // The template keeps the generator's button hidden, so this entry is its only way in.
    menu.addAction(QStringLiteral("Unicode Generator..."), this, &CConsoleDlg::OnUnicodeGenerator);
    menu.addAction(QStringLiteral("Run Script..."), this, [this] { AskForScript(false); })
        ->setEnabled(m_comm.GetPortOpen());
    menu.exec(event->globalPos());
}

void CConsoleDlg::ShowAboutBox()
{
    CAboutBox about(this);
    about.exec();
}

void CConsoleDlg::OnUnicodeGenerator()
{
    // Ownerless and modeless: the generator deletes itself when closed, and the console keeps
    // no reference to it.
    (new CUnicodeGenDlg)->show();
}

void CConsoleDlg::FillPortList()
{
    m_comboPort->clear();
    NumberSystemDevices();
    for (int port : EnumeratePorts())
        m_comboPort->addItem(QStringLiteral("COM%1").arg(port));
}

void CConsoleDlg::UpdateControlStates()
{
    const bool open = m_comm.GetPortOpen();
    for (QWidget* w :
         {static_cast<QWidget*>(m_btnOpen), static_cast<QWidget*>(m_comboPort),
          static_cast<QWidget*>(m_comboSpeed), static_cast<QWidget*>(m_btnRefreshPorts)})
        w->setEnabled(!open);
    for (QWidget* w : {m_btnClose, m_btnTouchCalibration, m_btnSetClock})
        w->setEnabled(open);

    // The band from two pixels above "Line" to two below the receive box holds every control
    // that talks to the module, however wide the window has grown.
    const WinRect line = CWindowUtil::GetRectInParent(Item(ids::kLine));
    const WinRect receive = CWindowUtil::GetRectInParent(m_richReceive);
    CWindowUtil::EnableChildrenInRect(this, open,
                                      {0, line.top - 2, qMax(1000, width()), receive.bottom + 2});
}

void CConsoleDlg::SendCommand(const QByteArray& text, bool echo)
{
    if (echo)
        m_editTransmit->setPlainText(FromCp949(text));
    SendInPieces(m_comm, text, m_rng);
    m_recorder.Sent(text);
}

QByteArray CConsoleDlg::ToLineText(const QString& text)
{
    const QList<char32_t> lacking = CharactersCp949Lacks(text);
    if (!lacking.isEmpty()) {
        constexpr qsizetype kMostNamed = 12;
        QStringList named;
        for (const char32_t c : lacking.first(std::min(lacking.size(), kMostNamed)))
            named << QStringLiteral("%1 (U+%2)")
                         .arg(QString::fromUcs4(&c, 1),
                              QString::number(c, 16).toUpper().rightJustified(4, u'0'));
        if (lacking.size() > kMostNamed)
            named << QStringLiteral("%1 more").arg(lacking.size() - kMostNamed);
        ShowError(QStringLiteral("The module's code page (949) has no %1: each is sent as \"?\".")
                      .arg(named.join(QStringLiteral(", "))));
    }
    return ToCp949(text);
}

void CConsoleDlg::OnOpenPort()
{
    // Nothing selected has no number to open; the saved one stays for when its device is back.
    if (m_comboPort->currentIndex() < 0) {
        ShowError(NoPortSelectedMessage(m_comboPort->count() > 0, GetPortFolderPath()));
        return;
    }
    m_settings.ForgetSavedPort();
    if (m_comm.GetPortOpen())
        m_comm.SetPortOpen(false);
    const int port = PortNumberFromText(CWindowUtil::GetWindowText(m_comboPort), false);
    const int speedIndex = m_comboSpeed->currentIndex();
    m_comm.SetCommPort(static_cast<short>(qBound(-1, port, 32767)));
    TraceText(QByteArray("Set Comm Port ") + QByteArray::number(port), false);
    m_comm.SetSettings(GetBaudRateText(speedIndex) + QStringLiteral(",n,8,1"));
    m_comm.SetRThreshold(1);
    m_comm.SetInputMode(1);
    m_comm.SetPortOpen(true);
    UpdateControlStates();
    SendCommand(kMakeTestEnvironment.toByteArray(), false);
}

void CConsoleDlg::OnClosePort()
{
    m_comm.SetPortOpen(false);
    UpdateControlStates();
    OnPortClosed();
}

void CConsoleDlg::OnRefreshPorts()
{
    FillPortList();
    m_comboPort->setCurrentIndex(m_comboPort->count() > 0 ? 0 : -1);
}

void CConsoleDlg::OnSend()
{
    // Blanks at both ends are neither sent nor kept in the box; the rest is echoed as typed, and
    // only the bytes on the line are in the module's code page.
    const QString text = CWindowUtil::GetWindowTextTrimmed(m_editTransmit);
    m_editTransmit->setPlainText(text);
    SendCommand(ToLineText(text), false);
}

void CConsoleDlg::OnExit()
{
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CConsoleDlg::OnCommEvent()
{
    if (m_comm.GetCommEvent() != CMSComm::kEventReceive)
        return;
    const QByteArray bytes = m_comm.GetInput();
    m_decoder.Feed(bytes, m_read);
    std::vector<ColoredText> pieces;
    m_presenter.Present(bytes, m_read, pieces);
    for (const ColoredText& piece : pieces)
        CControlUtil::AppendColoredText(m_richReceive, piece.text, piece.colour, false);
    m_presenter.Recycle(pieces);
    m_recorder.Decoded(m_read);
    if (m_runScript)
        m_runScript->Receive(m_read.reports);
}

void CConsoleDlg::OnDeviceLost(const QString& message)
{
    // A run fails its step with the cause first; the close below would read to it as a stop.
    if (m_runScript)
        m_runScript->PortLost(message);
    ShowError(message);
    UpdateControlStates();
    OnPortClosed();
}

void CConsoleDlg::OnSendFile()
{
    // One file at a time: the entry brings a running send's window forward.
    if (auto* running = findChild<FileSendDlg*>()) {
        running->BringForward();
        return;
    }
    const int bytesPerSecond = GetBaudRateText(m_comboSpeed->currentIndex()).toInt() / 10;
    auto* dialog = new FileSendDlg(m_comm, m_richReceive, bytesPerSecond, this);
    connect(dialog, &FileSendDlg::Refused, this, &CConsoleDlg::ShowError);
    RecordFileSend(dialog->Sender());
    dialog->ChooseAndSend();
}

void CConsoleDlg::OnOutputDropped(qint64 bytes)
{
    // The file's part is in Send File's own note; each byte is named once.
    const qint64 others = bytes - m_comm.DroppedAtClose(FileSender::kSendGroup);
    if (others > 0)
        NoteNotSent(others, "the port was closed");
}

void CConsoleDlg::NoteNotSent(qint64 bytes, const char* why)
{
    CControlUtil::AppendColoredText(
        m_richReceive,
        QStringLiteral("\r\n[%1 bytes of queued output were not sent: %2]\r\n")
            .arg(bytes)
            .arg(QLatin1String(why))
            .toLatin1(),
        0x0000C0, true);
}
