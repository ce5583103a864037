#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QFont>
#include <QRgb>
#include <QString>

#include <deque>
#include <vector>

// Read-only coloured text that keeps up with any line rate of the serial port. Text is kept as
// 8-bit characters with colour runs; long lines wrap at the view width and are laid out by
// arithmetic alone (a fixed-pitch font makes every wrapped row the same number of characters),
// so only the rows on screen cost anything to paint. Appends only mark the view dirty; layout
// and repaint follow once per display frame.
class ReceiveView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // The newest text this view always keeps; older whole lines are dropped first.
    static constexpr qsizetype kKeepCharacters = 16 * 1024 * 1024;

    explicit ReceiveView(QWidget* parent = nullptr);
    ~ReceiveView() override;

    // "\r\n", "\n" and a lone "\r" end a line; a "\r\n" split over two appends still ends one.
    void Append(QByteArrayView text, QColor colour, bool bold);

    // The text held, lines joined by "\n".
    QString toPlainText() const;
    qsizetype textSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class ReceiveViewAccessible;

    // Offsets and rows are absolute: they count from the first character ever appended, so
    // dropping old text never renumbers what stays.
    struct Line
    {
        qint64 start; // offset of the first character
        qint64 row;   // first wrapped row
    };
    struct Run
    {
        qint64 start;
        QRgb colour;
        bool bold;
    };

    char* Store(qint64 offset) { return m_store.data() + (offset - m_storeBase); }
    const char* Store(qint64 offset) const { return m_store.data() + (offset - m_storeBase); }
    qint64 LineEnd(std::size_t line) const;
    qint64 RowsOf(qint64 length) const;
    qint64 EndRow() const;
    std::size_t LineAtOffset(qint64 offset) const;
    std::size_t LineAtRow(qint64 row) const;
    qint64 RowOfOffset(qint64 offset) const;
    qint64 OffsetOfRow(qint64 row) const;
    QString Text(qint64 from, qint64 to) const;

    void DropOldest();
    void MarkDirty();
    void SyncLayout();
    void Relayout();
    void UpdateMetrics();
    int PageRows() const;
    qint64 OffsetAt(QPoint viewportPos) const;
    QRect CharacterRect(qint64 offset) const;
    void ScrollToOffset(qint64 offset);

    qint64 SelectionStart() const;
    qint64 SelectionEnd() const;
    void Select(qint64 anchor, qint64 cursor);
    void SelectAll();
    void CopySelection() const;
    void AnnounceChanges();

    std::vector<char> m_store;
    qint64 m_storeBase = 0; // offset of m_store[0]; the text before m_first there is dead
    qint64 m_first = 0;     // oldest character held
    qint64 m_end = 0;       // one past the newest character
    bool m_afterCarriageReturn = false;
    std::deque<Line> m_lines{Line{0, 0}};
    std::deque<Run> m_runs;

    QFont m_font;
    QFont m_boldFont;
    qreal m_charWidth = 8;
    int m_rowHeight = 16;
    int m_ascent = 12;
    qint64 m_columns = 80;

    qint64 m_topRow = 0;
    bool m_followEnd = true;
    bool m_layoutDirty = false;
    QBasicTimer m_frameTimer;

    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    bool m_selecting = false;

    qint64 m_announcedEnd = 0;
    QString m_unannouncedRemoval;
};
