#include "support/ui/ReceiveView.h"

#include "support/FileReplace.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionSlider>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace {

// Old text goes in batches of this size, so dropping and compacting are rare events rather than
// a cost on every append.
constexpr qint64 kDropBatch = ReceiveView::kKeepCharacters / 8;
// Text shows at the next display frame. While it streams in without pause, frames come at most
// this often: nobody reads faster than that, and painting a full view at display rate was most
// of what receiving at 230400 baud cost the window.
constexpr int kFrameMilliseconds = 16;
constexpr int kStreamingFrameMilliseconds = 33;
constexpr int kMargin = 3;

bool IsWordCharacter(char c)
{
    return c != ' ' && c != '\n';
}

// A scroll bar that repaints only when what it shows changes. Text streaming in moves the range
// every frame, yet once the slider has shrunk to its least length at the bottom nothing of it
// looks different; repainting it at display rate cost as much as a third of the view's paint.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // Sets all at once, so the passing state between the calls (a new range with the old value)
    // does not count as a change.
    void Set(int maximum, int pageStep, int value)
    {
        m_settling = true;
        setRange(0, maximum);
        setPageStep(pageStep);
        setSingleStep(1);
        setValue(value);
        m_settling = false;
        if (Changed())
            update();
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (!m_settling && (change == SliderOrientationChange || Changed()))
            QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent* event) override
    {
        // Only a whole paint tells what the bar shows; a partial one leaves that unknown.
        if (event->rect().contains(rect()))
            m_painted = Shown();
        else
            m_painted.reset();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look
    {
        QRect slider;
        bool atMinimum;
        bool atMaximum;
        QStyle::State state;
        QStyle::SubControls active;
        bool operator==(const Look&) const = default;
    };

    Look Shown() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return Look{style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                            QStyle::SC_ScrollBarSlider, this),
                    value() == minimum(), value() == maximum(), option.state,
                    option.activeSubControls};
    }

    bool Changed() const { return !m_painted || Shown() != *m_painted; }

    std::optional<Look> m_painted;
    bool m_settling = false;
};

} // namespace

// Lets screen readers and other assistive technology read the received text, which the view
// paints itself and which would otherwise be invisible to them.
class ReceiveViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ReceiveViewAccessible(ReceiveView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {}

    static QAccessibleInterface* Create(const QString&, QObject* object)
    {
        if (auto* view = qobject_cast<ReceiveView*>(object))
            return new ReceiveViewAccessible(view);
        return nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return View()->toPlainText();
        return QAccessibleWidget::text(t);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || selectionCount() == 0)
            return;
        *startOffset = Relative(View()->SelectionStart());
        *endOffset = Relative(View()->SelectionEnd());
    }

    int selectionCount() const override
    {
        return View()->SelectionStart() < View()->SelectionEnd() ? 1 : 0;
    }

    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }

    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            View()->Select(View()->m_cursor, View()->m_cursor);
    }

    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            View()->Select(Absolute(startOffset), Absolute(endOffset));
    }

    int cursorPosition() const override
    {
        return Relative(std::clamp(View()->m_cursor, View()->m_first, View()->m_end));
    }

    void setCursorPosition(int position) override
    {
        View()->Select(Absolute(position), Absolute(position));
    }

    QString text(int startOffset, int endOffset) const override
    {
        return View()->Text(Absolute(startOffset), Absolute(endOffset));
    }

    int characterCount() const override { return Relative(View()->m_end); }

    QRect characterRect(int offset) const override
    {
        const QRect local = View()->CharacterRect(Absolute(offset));
        return QRect(View()->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = View()->viewport()->mapFromGlobal(point);
        if (!View()->viewport()->rect().contains(local))
            return -1;
        return Relative(View()->OffsetAt(local));
    }

    void scrollToSubstring(int startIndex, int) override
    {
        View()->ScrollToOffset(Absolute(startIndex));
    }

    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        const ReceiveView* view = View();
        *startOffset = *endOffset = -1;
        const qint64 at = Absolute(offset);
        if (view->m_runs.empty() || at >= view->m_end)
            return {};
        auto next =
            std::upper_bound(view->m_runs.begin(), view->m_runs.end(), at,
                             [](qint64 o, const ReceiveView::Run& r) { return o < r.start; });
        const ReceiveView::Run& run = *std::prev(next);
        *startOffset = Relative(std::max(run.start, view->m_first));
        *endOffset = Relative(next == view->m_runs.end() ? view->m_end : next->start);
        return QStringLiteral("font-weight:%1;color:rgb(%2,%3,%4);")
            .arg(run.bold ? QStringLiteral("bold") : QStringLiteral("normal"))
            .arg(qRed(run.colour))
            .arg(qGreen(run.colour))
            .arg(qBlue(run.colour));
    }

private:
    ReceiveView* View() const { return static_cast<ReceiveView*>(widget()); }
    qint64 Absolute(int offset) const
    {
        return std::clamp(View()->m_first + offset, View()->m_first, View()->m_end);
    }
    int Relative(qint64 offset) const { return static_cast<int>(offset - View()->m_first); }
};

ReceiveView::ReceiveView(QWidget* parent) : QAbstractScrollArea(parent)
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&ReceiveViewAccessible::Create);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);

    // The most the store ever holds: what is kept, the batch before a drop, and the dead text
    // before it is compacted. Reserved once, so no append pays for copying megabytes while the
    // window waits; pages are only touched as text arrives.
    m_store.reserve(
        static_cast<std::size_t>(kKeepCharacters + kDropBatch + kKeepCharacters / 4 + (1 << 20)));

    m_sinceFrame.start();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    UpdateMetrics();

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

void ReceiveView::Append(QByteArrayView text, QColor colour, bool bold)
{
    const char* in = text.data();
    qsizetype count = text.size();
    if (count > 0) {
        // Only the very next character can complete a "\r\n"; an empty append leaves the
        // question open.
        if (m_afterCarriageReturn && in[0] == '\n') {
            ++in;
            --count;
        }
        m_afterCarriageReturn = false;
    }
    if (count == 0)
        return;

    const QRgb rgb = colour.rgb();
    if (m_runs.empty() || m_runs.back().colour != rgb || m_runs.back().bold != bold)
        m_runs.push_back(Run{m_end, rgb, bold});

    // Room for a stamp before every line this text can start.
    char stamp[kTimeStampLength];
    bool stampTaken = false;
    qsizetype stampRoom = 0;
    if (m_timeStamps) {
        const qsizetype breaks =
            std::count_if(in, in + count, [](char c) { return c == '\n' || c == '\r'; });
        stampRoom = (breaks + 1) * kTimeStampLength;
    }

    const std::size_t used = m_store.size();
    m_store.resize(used + static_cast<std::size_t>(count + stampRoom));
    char* const begin = m_store.data() + used;
    char* out = begin;
    bool lineStart = m_atLineStart;
    for (qsizetype i = 0; i < count; ++i) {
        char c = in[i];
        if (lineStart) {
            if (m_timeStamps) {
                // Every line begun by this text shares the time the text arrived.
                if (!stampTaken) {
                    WriteTimeStamp(m_clock(), stamp);
                    stampTaken = true;
                }
                out = std::copy(stamp, stamp + kTimeStampLength, out);
            }
            lineStart = false;
        }
        if (static_cast<unsigned char>(c) <= '\r') {
            if (c == '\r') {
                if (i + 1 < count && in[i + 1] == '\n')
                    ++i;
                else if (i + 1 == count)
                    m_afterCarriageReturn = true;
                c = '\n';
            }
            if (c == '\n') {
                const Line& last = m_lines.back();
                const qint64 lineEnd = m_end + (out - begin);
                m_lines.push_back(Line{lineEnd + 1, last.row + RowsOf(lineEnd - last.start)});
                lineStart = true;
            }
        }
        *out++ = c;
    }
    m_atLineStart = lineStart;
    m_end += out - begin;
    m_store.resize(used + static_cast<std::size_t>(out - begin));
    m_log.Write(QByteArrayView(begin, out - begin));

    if (m_end - m_first > kKeepCharacters + kDropBatch)
        DropOldest();
    MarkDirty();
}

QString ReceiveView::toPlainText() const
{
    return Text(m_first, m_end);
}

qsizetype ReceiveView::textSize() const
{
    return static_cast<qsizetype>(m_end - m_first);
}

void ReceiveView::Clear()
{
    if (QAccessible::isActive() && m_first < m_announcedEnd)
        m_unannouncedRemoval += Text(m_first, m_announcedEnd);
    // Offsets stay absolute, so the next character is numbered as if nothing had gone.
    m_store.clear();
    m_storeBase = m_first = m_clearedAt = m_end;
    m_lines = {Line{m_end, 0}};
    m_runs.clear();
    m_atLineStart = true;
    m_topRow = 0;
    m_followEnd = true;
    m_anchor = m_cursor = m_end;
    m_selecting = false;
    MarkDirty();
    viewport()->update();
}

QByteArray ReceiveView::SavedText() const
{
    QByteArray bytes;
    if (m_first > m_clearedAt) {
        bytes = tr("[%1 bytes of older text were dropped before this line]\n")
                    .arg(m_first - m_clearedAt)
                    .toUtf8();
    }
    bytes.reserve(bytes.size() + (m_end - m_first) * 2);
    AppendLatin1AsUtf8(bytes, QByteArrayView(Store(m_first), m_end - m_first));
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

QString ReceiveView::Text(qint64 from, qint64 to) const
{
    from = std::clamp(from, m_first, m_end);
    to = std::clamp(to, from, m_end);
    return QString::fromLatin1(Store(from), static_cast<qsizetype>(to - from));
}

qint64 ReceiveView::LineEnd(std::size_t line) const
{
    return line + 1 < m_lines.size() ? m_lines[line + 1].start - 1 : m_end;
}

qint64 ReceiveView::RowsOf(qint64 length) const
{
    return length <= 0 ? 1 : (length + m_columns - 1) / m_columns;
}

qint64 ReceiveView::EndRow() const
{
    return m_lines.back().row + RowsOf(m_end - m_lines.back().start);
}

std::size_t ReceiveView::LineAtOffset(qint64 offset) const
{
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), offset,
                               [](qint64 o, const Line& l) { return o < l.start; });
    return it == m_lines.begin() ? 0 : static_cast<std::size_t>(it - m_lines.begin()) - 1;
}

std::size_t ReceiveView::LineAtRow(qint64 row) const
{
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), row,
                               [](qint64 r, const Line& l) { return r < l.row; });
    return it == m_lines.begin() ? 0 : static_cast<std::size_t>(it - m_lines.begin()) - 1;
}

qint64 ReceiveView::RowOfOffset(qint64 offset) const
{
    offset = std::clamp(offset, m_first, m_end);
    const std::size_t line = LineAtOffset(offset);
    const Line& l = m_lines[line];
    const qint64 rows = RowsOf(LineEnd(line) - l.start);
    return l.row + std::min((offset - l.start) / m_columns, rows - 1);
}

qint64 ReceiveView::OffsetOfRow(qint64 row) const
{
    const std::size_t line = LineAtRow(row);
    const Line& l = m_lines[line];
    return std::min(l.start + std::max<qint64>(row - l.row, 0) * m_columns, LineEnd(line));
}

void ReceiveView::DropOldest()
{
    const qint64 oldFirst = m_first;
    while (m_lines.size() > 1 && m_end - m_lines[1].start >= kKeepCharacters)
        m_lines.pop_front();
    Line& first = m_lines.front();
    if (m_end - first.start > kKeepCharacters + kDropBatch) {
        // Only a line longer than everything kept is cut; its end rows keep their numbers.
        const qint64 oldRows = RowsOf(LineEnd(0) - first.start);
        first.start = m_end - kKeepCharacters;
        first.row += oldRows - RowsOf(LineEnd(0) - first.start);
    }
    m_first = first.start;
    while (m_runs.size() > 1 && m_runs[1].start <= m_first)
        m_runs.pop_front();

    if (QAccessible::isActive() && oldFirst < m_announcedEnd) {
        const qint64 to = std::min(m_first, m_announcedEnd);
        m_unannouncedRemoval += QString::fromLatin1(Store(oldFirst), to - oldFirst);
    }

    if (m_first - m_storeBase >= kKeepCharacters / 4) {
        m_store.erase(m_store.begin(), m_store.begin() + (m_first - m_storeBase));
        m_storeBase = m_first;
    }
}

void ReceiveView::MarkDirty()
{
    m_layoutDirty = true;
    if (!m_frameTimer.isActive())
        m_frameTimer.start(std::max<qint64>(kFrameMilliseconds,
                                            kStreamingFrameMilliseconds - m_sinceFrame.elapsed()),
                           this);
}

int ReceiveView::PageRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

void ReceiveView::SyncLayout()
{
    m_layoutDirty = false;
    const qint64 firstRow = m_lines.front().row;
    const qint64 pageRows = PageRows();
    const qint64 lastTop =
        std::min<qint64>(std::max<qint64>(EndRow() - firstRow - pageRows, 0), INT_MAX);
    const qint64 top = m_followEnd ? lastTop : std::clamp(m_topRow - firstRow, qint64{0}, lastTop);
    m_topRow = firstRow + top;

    auto* bar = static_cast<SteadyScrollBar*>(verticalScrollBar());
    const QSignalBlocker blocker(bar);
    bar->Set(static_cast<int>(lastTop), static_cast<int>(pageRows), static_cast<int>(top));
}

void ReceiveView::UpdateMetrics()
{
    m_font = font();
    m_font.setStyleHint(QFont::TypeWriter);
    m_boldFont = m_font;
    m_boldFont.setBold(true);
    const QFontMetricsF metrics(m_font);
    m_charWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_rowHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    m_ascent = static_cast<int>(std::ceil(metrics.ascent()));
    m_glyphs = GlyphsOf(m_font);
    m_boldGlyphs = GlyphsOf(m_boldFont);
    m_columnPlaces.clear();
}

ReceiveView::Glyphs ReceiveView::GlyphsOf(const QFont& font)
{
    Glyphs glyphs;
    glyphs.font = QRawFont::fromFont(font);
    if (!glyphs.font.isValid())
        return glyphs;
    // Control characters show as spaces, as they always have.
    QString characters(256, QLatin1Char(' '));
    for (int c = 0; c < 256; ++c) {
        if (c >= 0x20 && c != 0x7F)
            characters[c] = QChar(c);
    }
    const QList<quint32> indexes = glyphs.font.glyphIndexesForString(characters);
    if (indexes.size() == 256)
        std::copy(indexes.begin(), indexes.end(), glyphs.index.begin());
    return glyphs;
}

void ReceiveView::Relayout()
{
    const qint64 columns =
        std::max<qint64>(1, static_cast<qint64>((viewport()->width() - 2 * kMargin) / m_charWidth));
    if (columns == m_columns)
        return;
    const qint64 topOffset = OffsetOfRow(m_topRow);
    m_columns = columns;
    qint64 row = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        m_lines[i].row = row;
        row += RowsOf(LineEnd(i) - m_lines[i].start);
    }
    m_topRow = RowOfOffset(topOffset);
}

void ReceiveView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
    SyncLayout();
}

void ReceiveView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        Relayout();
        SyncLayout();
        viewport()->update();
    }
}

void ReceiveView::scrollContentsBy(int, int)
{
    const QScrollBar* bar = verticalScrollBar();
    m_topRow = m_lines.front().row + bar->value();
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
    AnnounceChanges();
}

void ReceiveView::AnnounceChanges()
{
    if (QAccessible::isActive()) {
        if (!m_unannouncedRemoval.isEmpty()) {
            QAccessibleTextRemoveEvent removed(this, 0, m_unannouncedRemoval);
            QAccessible::updateAccessibility(&removed);
        }
        const qint64 from = std::max(m_announcedEnd, m_first);
        if (from < m_end) {
            QAccessibleTextInsertEvent inserted(this, static_cast<int>(from - m_first),
                                                Text(from, m_end));
            QAccessible::updateAccessibility(&inserted);
        }
    }
    m_unannouncedRemoval.clear();
    m_announcedEnd = m_end;
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
    const int visibleRows = viewport()->height() / m_rowHeight + 1;
    const qint64 endRow = EndRow();

    std::size_t line = LineAtRow(m_topRow);
    auto run = std::upper_bound(m_runs.begin(), m_runs.end(), OffsetOfRow(m_topRow),
                                [](qint64 o, const Run& r) { return o < r.start; });
    if (run != m_runs.begin())
        --run;

    qint64 row = m_topRow;
    for (int r = 0; r < visibleRows && row < endRow; ++r, ++row) {
        while (line + 1 < m_lines.size() && m_lines[line + 1].row <= row)
            ++line;
        const qint64 lineEnd = LineEnd(line);
        const qint64 from =
            std::min(m_lines[line].start + (row - m_lines[line].row) * m_columns, lineEnd);
        const qint64 to = std::min(from + m_columns, lineEnd);
        const int y = r * m_rowHeight;

        // A selection that runs on past this line shows its line break as one cell.
        if (to == lineEnd && selectionStart <= lineEnd && selectionEnd > lineEnd && lineEnd < m_end)
            painter.fillRect(
                QRectF(kMargin + (to - from) * m_charWidth, y, m_charWidth, m_rowHeight),
                highlight);

        for (qint64 pos = from; pos < to;) {
            while (run != m_runs.end() && std::next(run) != m_runs.end() &&
                   std::next(run)->start <= pos)
                ++run;
            qint64 stop = to;
            if (run != m_runs.end() && std::next(run) != m_runs.end())
                stop = std::min(stop, std::next(run)->start);
            const bool selected = pos >= selectionStart && pos < selectionEnd;
            if (selected)
                stop = std::min(stop, selectionEnd);
            else if (pos < selectionStart)
                stop = std::min(stop, selectionStart);

            const qreal x = kMargin + (pos - from) * m_charWidth;
            if (selected)
                painter.fillRect(QRectF(x, y, (stop - pos) * m_charWidth, m_rowHeight), highlight);
            const bool bold = run != m_runs.end() && run->bold;
            painter.setPen(selected ? highlightedText
                                    : QColor(run != m_runs.end() ? run->colour : qRgb(0, 0, 0)));
            DrawSegment(painter, QPointF(x, y + m_ascent), pos, stop, bold);
            pos = stop;
        }
    }
}

void ReceiveView::DrawSegment(QPainter& painter, QPointF baseline, qint64 from, qint64 to,
                              bool bold)
{
    const auto count = static_cast<std::size_t>(to - from);
    const Glyphs& glyphs = bold ? m_boldGlyphs : m_glyphs;
    const auto* text = reinterpret_cast<const unsigned char*>(Store(from));
    m_rowGlyphs.resize(count);
    bool inFont = glyphs.font.isValid();
    for (std::size_t i = 0; i < count && inFont; ++i) {
        m_rowGlyphs[i] = glyphs.index[text[i]];
        inFont = m_rowGlyphs[i] != 0;
    }
    if (inFont) {
        if (m_columnPlaces.size() < count) {
            m_columnPlaces.resize(std::max<std::size_t>(count, m_columns));
            for (std::size_t i = 0; i < m_columnPlaces.size(); ++i)
                m_columnPlaces[i] = QPointF(static_cast<qreal>(i) * m_charWidth, 0);
        }
        QGlyphRun run;
        run.setRawFont(glyphs.font);
        run.setRawData(m_rowGlyphs.data(), m_columnPlaces.data(), static_cast<int>(count));
        painter.drawGlyphRun(baseline, run);
        return;
    }
    QString shown = QString::fromLatin1(Store(from), static_cast<qsizetype>(count));
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    painter.setFont(bold ? m_boldFont : m_font);
    painter.drawText(baseline, shown);
}

qint64 ReceiveView::OffsetAt(QPoint viewportPos) const
{
    const qint64 firstRow = m_lines.front().row;
    const qint64 row =
        std::clamp(m_topRow + viewportPos.y() / m_rowHeight - (viewportPos.y() < 0 ? 1 : 0),
                   firstRow, EndRow() - 1);
    const std::size_t line = LineAtRow(row);
    const qint64 column =
        std::clamp<qint64>(std::llround((viewportPos.x() - kMargin) / m_charWidth), 0, m_columns);
    return std::min(m_lines[line].start + (row - m_lines[line].row) * m_columns + column,
                    LineEnd(line));
}

QRect ReceiveView::CharacterRect(qint64 offset) const
{
    offset = std::clamp(offset, m_first, m_end);
    const qint64 row = RowOfOffset(offset);
    const Line& l = m_lines[LineAtOffset(offset)];
    const qint64 column = offset - l.start - (row - l.row) * m_columns;
    return QRect(static_cast<int>(kMargin + column * m_charWidth),
                 static_cast<int>((row - m_topRow) * m_rowHeight),
                 static_cast<int>(std::ceil(m_charWidth)), m_rowHeight);
}

void ReceiveView::ScrollToOffset(qint64 offset)
{
    m_topRow = RowOfOffset(offset);
    m_followEnd = false;
    SyncLayout();
    m_followEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    viewport()->update();
}

qint64 ReceiveView::SelectionStart() const
{
    return std::clamp(std::min(m_anchor, m_cursor), m_first, m_end);
}

qint64 ReceiveView::SelectionEnd() const
{
    return std::clamp(std::max(m_anchor, m_cursor), m_first, m_end);
}

void ReceiveView::Select(qint64 anchor, qint64 cursor)
{
    m_anchor = std::clamp(anchor, m_first, m_end);
    m_cursor = std::clamp(cursor, m_first, m_end);
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent event(this, static_cast<int>(SelectionStart() - m_first),
                                            static_cast<int>(SelectionEnd() - m_first));
        event.setCursorPosition(static_cast<int>(m_cursor - m_first));
        QAccessible::updateAccessibility(&event);
    }
}

void ReceiveView::SelectAll()
{
    Select(m_first, m_end);
}

void ReceiveView::CopySelection() const
{
    if (SelectionStart() < SelectionEnd())
        QGuiApplication::clipboard()->setText(Text(SelectionStart(), SelectionEnd()));
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
            clipboard->setText(Text(SelectionStart(), SelectionEnd()), QClipboard::Selection);
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
    qint64 start = OffsetAt(event->position().toPoint());
    qint64 end = start;
    while (start > m_first && IsWordCharacter(*Store(start - 1)))
        --start;
    while (end < m_end && IsWordCharacter(*Store(end)))
        ++end;
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
    stamps->setChecked(m_timeStamps);
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
