#include "app/ConsoleDlg.h"

#include "app/AboutBox.h"
#include "app/CommandButtons.h"
#include "app/ConsoleMessages.h"
#include "app/ConsoleScripts.h"
#include "app/ConsoleSizing.h"
#include "app/DemoRunner.h"
#include "app/FileSendDlg.h"
#include "app/PortSelection.h"
#include "resources/AppIcon.h"
#include "resources/ControlIds.h"
#include "resources/VersionText.h"
#include "serial/PortFolder.h"
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
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
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

void FillPortList(QComboBox* ports)
{
    ports->clear();
    NumberSystemDevices();
    // A port across the network shows its address; the number alone is what is stored.
    for (int port : EnumeratePorts()) {
        const QString address = NetworkPortAddress(port);
        ports->addItem(address.isEmpty() ? QStringLiteral("COM%1").arg(port)
                                         : QStringLiteral("COM%1 (%2)").arg(port).arg(address));
    }
}

} // namespace

CConsoleDlg::CConsoleDlg(RandomSource& rng, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_session(rng)
{
    CreateItems(rng);
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

void CConsoleDlg::SendCommand(const QByteArray& text, bool echo)
{
    if (echo)
        Echo(m_transmit, text);
    m_session.Send(text);
}

void CConsoleDlg::SetTimeSource(std::function<QDateTime()> now)
{
    m_commands->SetTimeSource(std::move(now));
}

bool CConsoleDlg::IsDemoRunning() const
{
    return m_demos->IsRunning();
}

void CConsoleDlg::CreateItems(RandomSource& rng)
{
    m_items = BuildDialog(this, ConsoleTemplate());
    m_ports = qobject_cast<QComboBox*>(Item(ids::kPortList));
    m_speeds = qobject_cast<QComboBox*>(Item(ids::kSpeedList));
    m_transmit = qobject_cast<QPlainTextEdit*>(Item(ids::kTransmit));
    m_receive = qobject_cast<ReceiveView*>(Item(ids::kReceive));

    m_receive->setAccessibleName(QStringLiteral("RX"));
    m_transmit->setAccessibleName(QStringLiteral("TX"));
    m_session.Comm().setObjectName(QStringLiteral("ctrl%1").arg(ids::kSerialControl));
    m_session.Comm().setProperty("ctrlId", ids::kSerialControl);
    new ConsoleSizing(this, m_transmit, m_receive);

    m_commands = std::make_unique<CommandButtons>(
        this, m_session, rng,
        CommandButtons::Inputs{m_transmit, qobject_cast<QLineEdit*>(Item(ids::kPrintText)),
                               qobject_cast<QCheckBox*>(Item(ids::kRandomColor)),
                               qobject_cast<QCheckBox*>(Item(ids::kRandomTextPos))});
    m_demos = std::make_unique<DemoRunner>(this, m_session, rng, m_transmit, m_receive);
    m_scripts = std::make_unique<ConsoleScripts>(this, m_receive, m_session, rng);
}

void CConsoleDlg::BindCommands()
{
    struct Binding
    {
        int id;
        std::function<void()> handler;
        // Demo Off is the one button that acts on a running handler: the demo it stops.
        bool evenWhileRunning = false;
    };
    std::vector<Binding> bindings{
        {ids::kOpen, [this] { OnOpenPort(); }},
        {ids::kClose,
         [this] {
             m_session.Close();
             UpdateControlStates();
             m_scripts->PortClosed();
         }},
        {ids::kRefreshPorts,
         [this] {
             FillPortList(m_ports);
             m_ports->setCurrentIndex(m_ports->count() > 0 ? 0 : -1);
         }},
        {ids::kSend, [this] { OnSend(); }},
        {ids::kExit,
         [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); }},
        {ids::kDemo1, [this] { m_demos->RunDemo1(); }},
        {ids::kDemo2, [this] { m_demos->RunDemo2(); }},
        {ids::kDemo3, [this] { m_demos->RunDemo3(); }},
        {ids::kDemoOff, [this] { m_demos->Stop(); }, true},
    };
    for (const CommandRow& row : CommandRows()) {
        const auto* button = qobject_cast<QPushButton*>(Item(row.id));
        bindings.push_back({row.id, [this, &row, button] { m_commands->Run(row, *button); }});
    }
    for (Binding& binding : bindings) {
        auto* button = qobject_cast<QPushButton*>(Item(binding.id));
        Q_ASSERT(button);
        connect(button, &QPushButton::clicked, this,
                [this, handler = std::move(binding.handler), even = binding.evenWhileRunning] {
                    RunHandler(handler, even);
                });
    }

    connect(&m_session, &PortSession::Decoded, this,
            [receive = m_receive](const std::vector<ColoredText>& pieces) {
                for (const ColoredText& piece : pieces)
                    CControlUtil::AppendColoredText(receive, piece.text, piece.colour, false);
            });
    connect(&m_session, &PortSession::Lost, this, [this](const QString& message) {
        ShowError(this, message);
        UpdateControlStates();
        m_scripts->PortClosed();
    });
    connect(&m_session.Comm(), &CMSComm::Notice, this,
            [this](const QString& text) { NotePort(m_receive, text); });
    connect(&m_session.Comm(), &CMSComm::OutputDropped, this, [this](qint64 bytes) {
        // The file's part is in Send File's own note; each byte is named once.
        const qint64 others = bytes - m_session.Comm().DroppedAtClose(FileSender::kSendGroup);
        if (others > 0)
            NoteNotSent(m_receive, others, "the port was closed");
    });

    m_receive->SetMenuExtension([this](QMenu& menu) { m_scripts->AddRecordEntry(menu); });
    auto* sendFile = new QAction(QStringLiteral("Send File..."), m_transmit);
    connect(sendFile, &QAction::triggered, this, &CConsoleDlg::OnSendFile);
    m_transmit->addAction(sendFile);
    connect(m_ports, &QComboBox::activated, this, [this] { m_settings.ForgetSavedPort(); });
    connect(qobject_cast<TransmitBox*>(m_transmit), &TransmitBox::Refused, this,
            [this](qsizetype wanted) {
                ShowError(this, QStringLiteral("The transmit box holds at most %L1 characters; "
                                               "the text would have made it %L2. Nothing was "
                                               "inserted.")
                                    .arg(TransmitBox::kMaxCharacters)
                                    .arg(wanted));
            });
    qApp->installEventFilter(this);
}

// A rejected write to the serial control ends the handler at that step; the error is shown and
// whatever the handler had not done yet stays undone.
void CConsoleDlg::RunHandler(const std::function<void()>& handler, bool evenWhileRunning)
{
    if (m_handlerRunning) {
        if (evenWhileRunning)
            handler();
        return;
    }
    m_handlerRunning = true;
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
    m_handlerRunning = false;
    // The window was closed while the handler waited; it closes now that the handler is done.
    if (m_demos->TakeCloseRequest())
        close();
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
    if (const QString problems = m_settings.ReadProblems(); !problems.isEmpty()) {
        std::fprintf(stderr, "orvexa-testbox: %s\n", qPrintable(problems));
        // Once the window shows, so the message stands over it rather than alone on the desktop.
        QTimer::singleShot(0, this, [this, problems] { ShowError(this, problems); });
    }

    FillPortList(m_ports);
    QStringList entries;
    for (int i = 0; i < m_ports->count(); ++i)
        entries.append(m_ports->itemText(i));
    m_ports->setCurrentIndex(PortEntryToSelect(entries, saved.port));
    m_settings.SetSavedPortListed(m_ports->currentIndex() >= 0);

    for (int i = 0; i < kSpeedCount; ++i)
        m_speeds->addItem(GetBaudRateText(i));

    const LoadedText& text = m_settings.SavedText();
    m_transmit->setPlainText(text.text);
    // The box itself may change what it is given (line ends, non-breaking spaces).
    m_settings.SetTransmitShown(m_transmit->toPlainText());
    if (text.tooLarge)
        m_transmit->setPlaceholderText(
            QStringLiteral("hcode.txt holds %L1 bytes, more than the transmit box shows (%L2 "
                           "characters). It is kept as it is unless you type here.")
                .arg(text.fileBytes)
                .arg(TransmitBox::kMaxCharacters));

    m_speeds->setCurrentIndex(
        saved.speedIndex >= 0 && saved.speedIndex < kSpeedCount ? saved.speedIndex : -1);
    qobject_cast<QCheckBox*>(Item(ids::kRandomColor))->setChecked(saved.randomColor);
    qobject_cast<QCheckBox*>(Item(ids::kRandomTextPos))->setChecked(saved.randomTextPos);
    qobject_cast<QLineEdit*>(Item(ids::kPrintText))->setText(saved.printText);
    m_receive->SetTimeStamps(saved.timeStamps);

    UpdateControlStates();

    const bool demos = IsTraceEnabled();
    for (int id : {ids::kDemo1, ids::kDemo2, ids::kDemo3, ids::kDemoOff})
        Item(id)->setVisible(demos);

    m_scripts->SetTitle(QStringLiteral("OrvexaLCD TestBox ") + VersionText(ProductVersion()));
}

void CConsoleDlg::closeEvent(QCloseEvent* event)
{
    // A demo waiting inside its handler is ended first; unwinding it closes the window.
    if (m_demos->EndWaitForClose()) {
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
    options.port = PortNumberFromText(CWindowUtil::GetWindowText(m_ports), true);
    options.speedIndex = m_speeds->currentIndex();
    options.randomColor = qobject_cast<QCheckBox*>(Item(ids::kRandomColor))->isChecked();
    options.randomTextPos = qobject_cast<QCheckBox*>(Item(ids::kRandomTextPos))->isChecked();
    options.printText = CWindowUtil::GetWindowText(Item(ids::kPrintText));
    options.timeStamps = m_receive->TimeStamps();
    QString failure = m_settings.Save(options, CWindowUtil::GetWindowText(m_transmit));

    if (m_session.Comm().GetPortOpen())
        m_session.Close();
    const QString recording = m_scripts->End();
    if (!recording.isEmpty())
        failure += (failure.isEmpty() ? QString() : QStringLiteral("\n")) + recording;
    // Whatever the log has gathered goes to its file now, the closing lines included.
    m_receive->StopLog();
    // Last, so the port and the log are not held while the message waits for the user.
    if (!failure.isEmpty())
        ReportSaveFailure(this, failure, askUser);
}

bool CConsoleDlg::eventFilter(QObject* watched, QEvent* event)
{
    m_demos->SeeKey(watched, event);
    // Enter and Escape do nothing anywhere on the console: neither closes it, nor presses a
    // button, nor breaks a line in the transmit box. Other windows (message boxes, the About
    // box) keep their keys.
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
    menu.addAction(about, this, [this] {
        CAboutBox box(this);
        box.exec();
    });
    // The template keeps the generator's button hidden, so this entry is its only way in. The
    // generator is ownerless and modeless: it deletes itself when closed, and the console keeps
    // no reference to it.
    menu.addAction(QStringLiteral("Unicode Generator..."), this,
                   [] { (new CUnicodeGenDlg)->show(); });
    menu.addAction(QStringLiteral("Run Script..."), this,
                   [this] { m_scripts->AskForScript(false); })
        ->setEnabled(m_session.Comm().GetPortOpen());
    menu.exec(event->globalPos());
}

void CConsoleDlg::UpdateControlStates()
{
    const bool open = m_session.Comm().GetPortOpen();
    for (int id : {ids::kOpen, ids::kPortList, ids::kSpeedList, ids::kRefreshPorts})
        Item(id)->setEnabled(!open);
    for (int id : {ids::kClose, ids::kTouchCalibration, ids::kSetClock})
        Item(id)->setEnabled(open);

    // The band from two pixels above "Line" to two below the receive box holds every control
    // that talks to the module, however wide the window has grown.
    const WinRect line = CWindowUtil::GetRectInParent(Item(ids::kLine));
    const WinRect receive = CWindowUtil::GetRectInParent(m_receive);
    CWindowUtil::EnableChildrenInRect(this, open,
                                      {0, line.top - 2, qMax(1000, width()), receive.bottom + 2});
}

void CConsoleDlg::OnOpenPort()
{
    // Nothing selected has no number to open; the saved one stays for when its device is back.
    if (m_ports->currentIndex() < 0) {
        ShowError(this, NoPortSelectedMessage(m_ports->count() > 0, GetPortFolderPath()));
        return;
    }
    m_settings.ForgetSavedPort();
    m_session.Open(PortNumberFromText(CWindowUtil::GetWindowText(m_ports), false),
                   GetBaudRateText(m_speeds->currentIndex()) + QStringLiteral(",n,8,1"));
    UpdateControlStates();
    SendCommand(kMakeTestEnvironment.toByteArray(), false);
}

void CConsoleDlg::OnSend()
{
    // Blanks at both ends are neither sent nor kept in the box; the rest is echoed as typed, and
    // only the bytes on the line are in the module's code page.
    const QString text = CWindowUtil::GetWindowTextTrimmed(m_transmit);
    m_transmit->setPlainText(text);
    SendCommand(ToLineText(this, text), false);
}

void CConsoleDlg::OnSendFile()
{
    // One file at a time: the entry brings a running send's window forward.
    if (auto* running = findChild<FileSendDlg*>()) {
        running->BringForward();
        return;
    }
    const int bytesPerSecond = GetBaudRateText(m_speeds->currentIndex()).toInt() / 10;
    auto* dialog = new FileSendDlg(m_session.Comm(), m_receive, bytesPerSecond, this);
    connect(dialog, &FileSendDlg::Refused, this,
            [this](const QString& text) { ShowError(this, text); });
    m_scripts->RecordFileSend(dialog->Sender());
    dialog->ChooseAndSend();
}
