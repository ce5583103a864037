#include "support/ui/ReceiveView.h"

#include "support/FileReplace.h"
#include "support/ui/SteadyScrollBar.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Text shows at the next display frame. While it streams in without pause, frames come at most
// this often: nobody reads faster than that, and painting a full view at display rate was most
// of what receiving at 230400 baud cost the window.
constexpr int kFrameMilliseconds = 16;
constexpr int kStreamingFrameMilliseconds = 33;
constexpr int kMargin = 3;

} // namespace

ReceiveView::ReceiveView(QWidget* parent) : QAbstractScrollArea(parent)
{
    ReceiveViewAccessible::Install();
    m_text.SetStoreListener([this](QByteArrayView stored) { m_log.Write(stored); });
    m_text.SetDropListener(
        [this](qint64 from, qint64 to) { m_announcer.Removing(m_text, from, to); });

    m_sinceFrame.start();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_font.SetFont(font());

    m_statusMark = new QLabel(viewport());
    m_statusMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_statusMark->setStyleSheet(
        QStringLiteral("QLabel { color: #B00000; background: #FFF0F0; border: 1px solid #B00000; "
                       "padding: 1px 4px; font-weight: bold; }"));
    m_statusMark->hide();

    connect(&m_log, &ReceiveLog::Failed, this, [this](const QString& path, const QString& cause) {
        ShowFileError(tr("The log file %1 could not be written: %2. Logging has stopped; what was "
                         "written before stays in the file."),
                      path, cause);
    });
}

ReceiveView::~ReceiveView()
{
    if (m_saving.joinable())
        m_saving.join();
}

void ReceiveView::AppendRgb(QByteArrayView text, QRgb colour, bool bold)
{
    if (m_text.Append(text, colour, bold) > 0)
        MarkDirty();
}

void ReceiveView::Clear()
{
    m_announcer.Removing(m_text, m_text.First(), m_text.End());
    m_text.Clear();
    m_topRow = 0;
    m_followEnd = true;
    m_anchor = m_cursor = m_text.End();
    m_selecting = false;
    MarkDirty();
    viewport()->update();
}

QByteArray ReceiveView::SavedText() const
{
    QByteArray bytes;
    if (m_text.Dropped() > 0) {
        bytes = tr("[%1 bytes of older text were dropped before this line]\n")
                    .arg(m_text.Dropped())
                    .toUtf8();
    }
    bytes.reserve(bytes.size() + m_text.Size() * 2);
    AppendLatin1AsUtf8(bytes, m_text.Bytes());
    return bytes;
}

bool ReceiveView::SaveTo(const QString& path, QString* error) const
{
    return ReplaceFileWhole(path, SavedText(), error);
}

void ReceiveView::SaveInBackground(const QString& path)
{
    if (m_saving.joinable())
        m_saving.join();
    // The text is copied here; the thread touches nothing of the view but its event queue.
    m_saving = std::thread([this, path, bytes = SavedText()] {
        QString cause;
        if (ReplaceFileWhole(path, bytes, &cause))
            return;
        QMetaObject::invokeMethod(
            this,
            [this, path, cause] {
                ShowFileError(tr("The file %1 could not be saved: %2."), path, cause);
            },
            Qt::QueuedConnection);
    });
}

bool ReceiveView::StartLog(const QString& path, QString* error)
{
    return m_log.Start(path, error);
}

void ReceiveView::StopLog()
{
    m_log.Stop();
}

void ReceiveView::MarkDirty()
{
    m_layoutDirty = true;
    if (!m_frameTimer.isActive())
        m_frameTimer.start(std::max<qint64>(kFrameMilliseconds,
                                            kStreamingFrameMilliseconds - m_sinceFrame.elapsed()),
                           this);
}

void ReceiveView::SyncLayout()
{
    m_layoutDirty = false;
    const qint64 firstRow = m_text.FirstRow();
    const qint64 pageRows = PageRows();
    const qint64 lastTop =
        std::min<qint64>(std::max<qint64>(m_text.EndRow() - firstRow - pageRows, 0), INT_MAX);
    const qint64 top = m_followEnd ? lastTop : std::clamp(m_topRow - firstRow, qint64{0}, lastTop);
    m_topRow = firstRow + top;

    auto* bar = static_cast<SteadyScrollBar*>(verticalScrollBar());
    const QSignalBlocker blocker(bar);
    bar->Set(static_cast<int>(lastTop), static_cast<int>(pageRows), static_cast<int>(top));
}

void ReceiveView::Relayout()
{
    const qint64 columns = std::max<qint64>(
        1, static_cast<qint64>((viewport()->width() - 2 * kMargin) / m_font.CharWidth()));
    if (columns == m_text.Columns())
        return;
    const qint64 topOffset = m_text.OffsetOfRow(m_topRow);
    m_text.SetColumns(columns);
    m_topRow = m_text.RowOfOffset(topOffset);
}

void ReceiveView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
    SyncLayout();
    PlaceStatusMark();
}

void ReceiveView::SetStatusMark(const QString& text)
{
    m_statusMark->setText(text);
    m_statusMark->setAccessibleName(text);
    m_statusMark->setVisible(!text.isEmpty());
    PlaceStatusMark();
}

QString ReceiveView::StatusMark() const
{
    return m_statusMark->isVisibleTo(this) ? m_statusMark->text() : QString();
}

void ReceiveView::PlaceStatusMark()
{
    if (m_statusMark->isHidden())
        return;
    m_statusMark->adjustSize();
    m_statusMark->move(std::max(0, viewport()->width() - m_statusMark->width() - 2), 2);
    m_statusMark->raise();
}

void ReceiveView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_font.SetFont(font());
        Relayout();
        SyncLayout();
        viewport()->update();
    }
}

void ReceiveView::scrollContentsBy(int, int)
{
    const QScrollBar* bar = verticalScrollBar();
    m_topRow = m_text.FirstRow() + bar->value();
    m_followEnd = bar->value() >= bar->maximum();
    viewport()->update();
}

void ReceiveView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_frameTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_frameTimer.stop();
    m_sinceFrame.start();
    SyncLayout();
    viewport()->update();
    m_announcer.Announce(this, m_text);
}

void ReceiveView::paintEvent(QPaintEvent* event)
{
    if (m_layoutDirty)
        SyncLayout();

    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().base());

    const qint64 selectionStart = SelectionStart();
    const qint64 selectionEnd = SelectionEnd();
    const QColor highlight = palette().highlight().color();
    const QColor highlightedText = palette().highlightedText().color();
    const qreal width = m_font.CharWidth();
    const int height = m_font.RowHeight();
    const int visibleRows = viewport()->height() / height + 1;
    const qint64 endRow = m_text.EndRow();

    qint64 row = m_topRow;
    for (int r = 0; r < visibleRows && row < endRow; ++r, ++row) {
        const ReceiveText::RowSpan span = m_text.Row(row);
        const int y = r * height;

        // A selection that runs on past this line shows its line break as one cell.
        if (span.to == span.lineEnd && selectionStart <= span.lineEnd &&
            selectionEnd > span.lineEnd && span.lineEnd < m_text.End())
            painter.fillRect(QRectF(kMargin + (span.to - span.from) * width, y, width, height),
                             highlight);

        for (qint64 pos = span.from; pos < span.to;) {
            const ReceiveText::RunSpan run = m_text.RunAt(pos);
            // A run always reaches past `pos`; held to one character in case it did not.
            qint64 stop = std::min(span.to, std::max(run.end, pos + 1));
            const bool selected = pos >= selectionStart && pos < selectionEnd;
            if (selected)
                stop = std::min(stop, selectionEnd);
            else if (pos < selectionStart)
                stop = std::min(stop, selectionStart);

            const qreal x = kMargin + (pos - span.from) * width;
            if (selected)
                painter.fillRect(QRectF(x, y, (stop - pos) * width, height), highlight);
            painter.setPen(selected ? highlightedText : QColor(run.colour));
            m_font.Draw(painter, QPointF(x, y + m_font.Ascent()), m_text.Bytes(pos, stop),
                        run.bold);
            pos = stop;
        }
    }
}

qint64 ReceiveView::OffsetAt(QPoint viewportPos) const
{
    const qint64 row =
        std::clamp(m_topRow + viewportPos.y() / m_font.RowHeight() - (viewportPos.y() < 0 ? 1 : 0),
                   m_text.FirstRow(), m_text.EndRow() - 1);
    return m_text.OffsetAt(row, std::llround((viewportPos.x() - kMargin) / m_font.CharWidth()));
}

QRect ReceiveView::CharacterRect(qint64 offset) const
{
    return QRect(static_cast<int>(kMargin + m_text.ColumnOf(offset) * m_font.CharWidth()),
                 static_cast<int>((m_text.RowOfOffset(offset) - m_topRow) * m_font.RowHeight()),
                 static_cast<int>(std::ceil(m_font.CharWidth())), m_font.RowHeight());
}

void ReceiveView::ScrollToOffset(qint64 offset)
{
    m_topRow = m_text.RowOfOffset(offset);
    m_followEnd = false;
    SyncLayout();
    m_followEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    viewport()->update();
}

void ReceiveView::Select(qint64 anchor, qint64 cursor)
{
    m_anchor = Held(anchor);
    m_cursor = Held(cursor);
    viewport()->update();
    ReceiveTextAnnouncer::Selected(this, m_text, SelectionStart(), SelectionEnd(), m_cursor);
}

void ReceiveView::SelectAll()
{
    Select(m_text.First(), m_text.End());
}

void ReceiveView::CopySelection() const
{
    if (SelectionStart() < SelectionEnd())
        QGuiApplication::clipboard()->setText(m_text.Text(SelectionStart(), SelectionEnd()));
}

void ReceiveView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ReceiveView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qint64 offset = OffsetAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier)
        Select(m_anchor, offset);
    else
        Select(offset, offset);
    m_selecting = true;
}

void ReceiveView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = event->position().toPoint();
    QScrollBar* bar = verticalScrollBar();
    if (pos.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (pos.y() >= viewport()->height())
        bar->setValue(bar->value() + 1);
    Select(m_anchor, OffsetAt(pos));
}

void ReceiveView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection() && SelectionStart() < SelectionEnd())
            clipboard->setText(m_text.Text(SelectionStart(), SelectionEnd()),
                               QClipboard::Selection);
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void ReceiveView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const auto [start, end] = m_text.WordAt(OffsetAt(event->position().toPoint()));
    Select(start, end);
    m_selecting = false;
}

std::unique_ptr<QMenu> ReceiveView::CreateContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    QAction* copy = menu->addAction(tr("Copy"), this, &ReceiveView::CopySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(SelectionStart() < SelectionEnd());
    menu->addAction(tr("Select All"), this, &ReceiveView::SelectAll)
        ->setShortcut(QKeySequence::SelectAll);
    menu->addAction(tr("Clear"), this, &ReceiveView::Clear);
    menu->addAction(tr("Save As..."), this,
                    [this] { AskForFile(tr("Save Received Text"), false); });

    QAction* log = menu->addAction(tr("Log to File..."), this, &ReceiveView::ToggleLog);
    log->setCheckable(true);
    if (IsLogging()) {
        log->setChecked(true);
        log->setText(tr("Log to File... (%1)").arg(QDir::toNativeSeparators(LogPath())));
    }

    QAction* stamps = menu->addAction(tr("Time Stamps"), this, &ReceiveView::SetTimeStamps);
    stamps->setCheckable(true);
    stamps->setChecked(TimeStamps());
    if (m_extendMenu) {
        menu->addSeparator();
        m_extendMenu(*menu);
    }
    return menu;
}

void ReceiveView::contextMenuEvent(QContextMenuEvent* event)
{
    CreateContextMenu()->exec(event->globalPos());
}

void ReceiveView::ToggleLog()
{
    if (IsLogging())
        StopLog();
    else
        AskForFile(tr("Log Received Text to File"), true);
}

// The dialog is modeless to the event loop: bytes keep arriving and showing while it is open.
void ReceiveView::AskForFile(const QString& caption, bool forLog)
{
    if (m_fileFolder.isEmpty())
        m_fileFolder = QDir::homePath();
    auto* dialog = new QFileDialog(this, caption, m_fileFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({tr("Text files (*.txt *.log)"), tr("All files (*)")});
    // A log is appended to, never emptied, so choosing an existing file overwrites nothing.
    dialog->setOption(QFileDialog::DontConfirmOverwrite, forLog);
    connect(dialog, &QFileDialog::fileSelected, this, [this, forLog](const QString& path) {
        m_fileFolder = QFileInfo(path).absolutePath();
        QString cause;
        if (!forLog)
            SaveInBackground(path);
        else if (!StartLog(path, &cause))
            ShowFileError(tr("The log file %1 could not be opened: %2."), path, cause);
    });
    dialog->open();
}

void ReceiveView::ShowFileError(const QString& what, const QString& path, const QString& cause)
{
    // Window-modal but not blocking, so the port keeps being read while the message is up.
    auto* box =
        new QMessageBox(QMessageBox::Warning, window()->windowTitle(),
                        what.arg(QDir::toNativeSeparators(path), cause), QMessageBox::Ok, window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
