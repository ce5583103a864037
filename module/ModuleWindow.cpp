#include "module/ModuleWindow.h"

#include "module/ModuleEngine.h"
#include "module/ModuleRecorder.h"
#include "module/ScreenView.h"
#include "protocol/EventTable.h"
#include "support/CodePage.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QLabel* CountLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setAccessibleName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

QString ModuleWindow::ListedText(const QByteArray& statement)
{
    if (statement.size() <= kListedBytes)
        return FromCp949(statement);
    // A cut through a two-byte character shows as one replacement character at the end, which
    // the ellipsis follows anyway.
    return QStringLiteral("%1\u2026 (%2 bytes)")
        .arg(FromCp949(statement.left(kListedBytes)), QLocale().toString(statement.size()));
}

ModuleWindow::ModuleWindow(ModuleEngine& engine, const QString& portName, QWidget* parent)
    : QMainWindow(parent), m_engine(engine), m_recorder(std::make_unique<ModuleRecorder>(engine))
{
    connect(m_recorder.get(), &ModuleRecorder::Failed, this, [this](const QString& error) {
        m_record->setChecked(false);
        ShowRecordingState();
        ShowRecordingError(error);
    });
    m_title = QStringLiteral("OrvexaLCD Module %1").arg(portName);
    setWindowTitle(m_title);
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    m_screen = new ScreenView(engine, central);
    layout->addWidget(m_screen, 1);

    auto* side = new QVBoxLayout;
    auto* counts = new QFormLayout;
    m_port = CountLabel(QStringLiteral("Port"), central);
    m_port->setText(portName);
    m_port->setAccessibleDescription(portName);
    m_statements = CountLabel(QStringLiteral("Statements"), central);
    m_unknown = CountLabel(QStringLiteral("Unknown statements"), central);
    m_bytes = CountLabel(QStringLiteral("Bytes received"), central);
    m_events = CountLabel(QStringLiteral("Events sent"), central);
    counts->addRow(tr("Port"), m_port);
    counts->addRow(tr("Statements"), m_statements);
    counts->addRow(tr("Unknown statements"), m_unknown);
    counts->addRow(tr("Bytes received"), m_bytes);
    counts->addRow(tr("Events sent"), m_events);
    side->addLayout(counts);
    m_recordingMark = new QLabel(central);
    m_recordingMark->setAccessibleName(QStringLiteral("Recording"));
    m_recordingMark->setStyleSheet(QStringLiteral("QLabel { color: #B00000; font-weight: bold; }"));
    m_recordingMark->hide();
    side->addWidget(m_recordingMark);
    m_note = new QLabel(central);
    m_note->setAccessibleName(QStringLiteral("Sound"));
    side->addWidget(m_note);
    m_recent = new QListWidget(central);
    m_recent->setAccessibleName(QStringLiteral("Last statements"));
    m_recent->setMinimumWidth(260);
    m_recent->setUniformItemSizes(true); // no measuring of every entry on each change
    side->addWidget(m_recent, 1);
    layout->addLayout(side);
    setCentralWidget(central);
    CreateMenus();

    // 1:1 when the desktop has room; the view scales itself down when the window is smaller.
    if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
        const QSize room = desktop->availableSize();
        resize(std::min(room.width(), ModuleEngine::kWidth + 320),
               std::min(room.height(), ModuleEngine::kHeight + 80));
    }

    connect(&engine, &ModuleEngine::ScreenChanged, this,
            [this] { m_dirty = m_screenDirty = true; });
    connect(&engine, &ModuleEngine::CountsChanged, this, [this] { m_dirty = true; });
    connect(&engine, &ModuleEngine::SoundRequested, this, [this] {
        m_dirty = true;
        QApplication::beep();
    });
    m_refresh.setInterval(40);
    connect(&m_refresh, &QTimer::timeout, this, &ModuleWindow::Refresh);
    m_refresh.start();
    Refresh();
    m_screen->setFocus();
}

ModuleWindow::~ModuleWindow()
{
    // Ended without a close (SIGTERM): the recording is still kept, and a failure can only be
    // told on the terminal.
    QString error;
    if (!StopRecording(&error))
        std::fprintf(stderr, "orvexa-module: the script was not written: %s\n", qPrintable(error));
}

void ModuleWindow::closeEvent(QCloseEvent* event)
{
    QString error;
    if (!StopRecording(&error))
        QMessageBox::warning(this, windowTitle(), tr("The script was not written: %1.").arg(error));
    QMainWindow::closeEvent(event);
}

void ModuleWindow::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("Save Screen..."), this, &ModuleWindow::SaveScreen);
    m_record = file->addAction(tr("Record Script..."), this, &ModuleWindow::ToggleRecording);
    m_record->setCheckable(true);
    file->addSeparator();
    file->addAction(tr("&Quit"), this, &QWidget::close);

    QMenu* events = menuBar()->addMenu(tr("&Events"));
    auto* forms = new QActionGroup(this);
    QAction* binary = events->addAction(tr("Binary Reports"));
    QAction* text = events->addAction(tr("Text Reports"));
    for (QAction* form : {binary, text}) {
        form->setCheckable(true);
        forms->addAction(form);
    }
    binary->setChecked(m_engine.Form() == ReportForm::Binary);
    text->setChecked(m_engine.Form() == ReportForm::Text);
    connect(binary, &QAction::triggered, this, [this] { m_engine.SetForm(ReportForm::Binary); });
    connect(text, &QAction::triggered, this, [this] { m_engine.SetForm(ReportForm::Text); });
    events->addSeparator();
    events->addAction(tr("Send Date"), this, [this] { m_engine.SendDate(); });
    events->addAction(tr("Send Time"), this, [this] { m_engine.SendTime(); });
    events->addAction(tr("Screen Touch Down"), this, [this] {
        m_engine.SendEvent(report_code::kScreenTouch, {true, {1, 0}});
    });
    events->addAction(tr("Screen Touch Up"), this, [this] {
        m_engine.SendEvent(report_code::kScreenTouch, {false, {1, 0}});
    });
    events->addAction(tr("Buffer Warning"), this,
                      [this] { m_engine.SendEvent(report_code::kBufferWarning); });
    events->addAction(tr("Buffer Overflow"), this,
                      [this] { m_engine.SendEvent(report_code::kBufferOverflow); });
    events->addAction(tr("LCD State"), this,
                      [this] { m_engine.SendEvent(report_code::kLcdState); });
    events->addAction(tr("Checksum Error"), this,
                      [this] { m_engine.SendEvent(report_code::kChecksumError); });
}

void ModuleWindow::Refresh()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    m_statements->setText(QString::number(m_engine.StatementCount()));
    m_unknown->setText(QString::number(m_engine.UnknownCount()));
    m_bytes->setText(QString::number(m_engine.BytesReceived()));
    m_events->setText(QString::number(m_engine.EventsSent()));
    // Screen readers and scripts read a count through its accessible description.
    for (QLabel* count : {m_statements, m_unknown, m_bytes, m_events})
        if (count->accessibleDescription() != count->text())
            count->setAccessibleDescription(count->text());
    m_note->setText(m_engine.Note());
    // Bytes of a long statement change only the counts: the screen is painted again only when
    // a statement has run.
    if (std::exchange(m_screenDirty, false)) {
        m_screen->setCursor(m_engine.CursorVisible() ? Qt::ArrowCursor : Qt::BlankCursor);
        m_screen->update();
    }

    // Only what the engine logged since the last frame is added: rebuilding all the entries
    // every frame cost seconds once they were long, and the window froze while bytes arrived.
    const std::deque<ModuleEngine::LogEntry>& recent = m_engine.Recent();
    const qint64 logged = m_engine.StatementCount() + m_engine.UnknownCount();
    const auto fresh =
        static_cast<qsizetype>(std::min<qint64>(logged - m_listed, qint64(recent.size())));
    m_listed = logged;
    if (fresh <= 0)
        return;
    const qsizetype kept = qsizetype(recent.size()) - fresh; // of the entries listed already
    if (kept <= 0)
        m_recent->clear();
    while (m_recent->count() > kept)
        delete m_recent->takeItem(0);
    for (auto entry = recent.end() - fresh; entry != recent.end(); ++entry) {
        const QString text = ListedText(entry->text);
        if (entry->error.isEmpty()) {
            m_recent->addItem(text);
            continue;
        }
        auto* item = new QListWidgetItem(
            QStringLiteral("\u2717 %1  (%2)").arg(text, QString::fromLatin1(entry->error)),
            m_recent);
        item->setForeground(Qt::red);
    }
    m_recent->scrollToBottom();
}

void ModuleWindow::SaveScreen()
{
    // Not blocking: the module goes on taking bytes while the dialog is open, so the screen is
    // taken when the dialog is answered, where a recording puts its step.
    auto* dialog = new QFileDialog(this, tr("Save Screen"), m_recordFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("PNG pictures (*.png)"));
    dialog->setDefaultSuffix(QStringLiteral("png"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!m_engine.Screen().save(path, "PNG")) {
            auto* box =
                new QMessageBox(QMessageBox::Warning, windowTitle(),
                                tr("Could not write \"%1\".").arg(path), QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
        // While recording, the picture becomes the reference of a screen step at this point.
        m_recorder->ScreenSaved(path);
    });
    dialog->open();
}

void ModuleWindow::ToggleRecording()
{
    if (m_recorder->IsRecording()) {
        QString error;
        if (!StopRecording(&error))
            ShowRecordingError(error);
        return;
    }
    // Checked only once a recording runs; the dialog may still be cancelled.
    m_record->setChecked(false);
    if (m_recordFolder.isEmpty())
        m_recordFolder = QDir::homePath();
    // Not blocking: the module goes on taking bytes and answering while the dialog is open.
    auto* dialog = new QFileDialog(this, tr("Record Script"), m_recordFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({tr("Test scripts (*.ots)"), tr("All files (*)")});
    dialog->setDefaultSuffix(QStringLiteral("ots"));
    connect(dialog, &QFileDialog::fileSelected, this, &ModuleWindow::StartRecording);
    dialog->open();
}

void ModuleWindow::StartRecording(const QString& path)
{
    m_recordFolder = QFileInfo(path).absolutePath();
    const QStringList comments{
        QStringLiteral("Recorded on the virtual module %1 from %2.")
            .arg(m_port->text(), QDateTime::currentDateTime().toString(Qt::ISODate)),
        QStringLiteral("Replay: orvexa-run --virtual %1").arg(QFileInfo(path).fileName())};
    QString error;
    if (!m_recorder->Start(path, comments, &error)) {
        ShowRecordingError(error);
        return;
    }
    m_record->setChecked(true);
    ShowRecordingState();
}

bool ModuleWindow::StopRecording(QString* error)
{
    if (m_record)
        m_record->setChecked(false);
    const bool written = m_recorder->Stop(error);
    ShowRecordingState();
    return written;
}

void ModuleWindow::ShowRecordingState()
{
    const bool recording = m_recorder->IsRecording();
    const QString name = QFileInfo(m_recorder->Path()).fileName();
    setWindowTitle(recording ? tr("%1 \u2014 recording to %2").arg(m_title, name) : m_title);
    m_recordingMark->setText(recording ? tr("\u25CF Recording to %1").arg(name) : QString());
    m_recordingMark->setVisible(recording);
}

void ModuleWindow::ShowRecordingError(const QString& text)
{
    // Window-modal but not blocking: the module keeps serving its line while the message is up.
    auto* box =
        new QMessageBox(QMessageBox::Warning, windowTitle(),
                        tr("The script was not written: %1.").arg(text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
