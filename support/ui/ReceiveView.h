#pragma once

#include "support/ReceiveLog.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QPointF>
#include <QRawFont>
#include <QRgb>
#include <QString>
#include <QTime>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QMenu;
class QPainter;

// Read-only coloured text that keeps up with any line rate of the serial port. Text is kept as
// 8-bit characters with colour runs; long lines wrap at the view width and are laid out by
// arithmetic alone (a fixed-pitch font makes every wrapped row the same number of characters),
// so only the rows on screen cost anything to paint. Appends only mark the view dirty; layout
// and repaint follow at the next display frame, and at most 30 times a second while text
// streams in.
//
// The view can also keep a record: Save As writes what it holds, a live log receives every piece
// of text as it is shown, and time stamps begin each new line. All of them are off until asked
// for, so by default the view shows exactly the text appended.
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

    // Empties the view. The line-break state is kept, so the second half of a "\r\n" that
    // straddles the Clear does not show as an empty line.
    void Clear();

    // Writes the text held as UTF-8, after a note line when older text has been dropped since the
    // last Clear. False with the cause in `error`; the old file then stays as it was. This waits
    // for the disk; the menu's Save As writes on a thread of its own instead.
    bool SaveTo(const QString& path, QString* error) const;

    // Everything shown from now on is appended to `path` as well, exactly as shown.
    bool StartLog(const QString& path, QString* error);
    // Writes what the log has gathered and closes it.
    void StopLog();
    bool IsLogging() const { return m_log.IsActive(); }
    QString LogPath() const { return m_log.Path(); }

    // While on, each new line begins with the local time of its first character; lines already
    // shown stay as they are.
    void SetTimeStamps(bool on) { m_timeStamps = on; }
    bool TimeStamps() const { return m_timeStamps; }
    // Where time stamps come from; the wall clock unless a test sets another.
    void SetClock(std::function<QTime()> clock) { m_clock = std::move(clock); }

    // The context menu: "Copy", "Select All", "Clear", "Save As...", "Log to File...",
    // "Time Stamps". Save As and Log to File ask for a file in a dialog that does not block.
    std::unique_ptr<QMenu> CreateContextMenu();
    // Entries an owner adds at the end of that menu, each time it is made.
    void SetMenuExtension(std::function<void(QMenu&)> extend) { m_extendMenu = std::move(extend); }

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
    // Draws the characters from `from` to `to`, one row's segment of one colour.
    void DrawSegment(QPainter& painter, QPointF baseline, qint64 from, qint64 to, bool bold);
    qint64 OffsetAt(QPoint viewportPos) const;
    QRect CharacterRect(qint64 offset) const;
    void ScrollToOffset(qint64 offset);

    qint64 SelectionStart() const;
    qint64 SelectionEnd() const;
    void Select(qint64 anchor, qint64 cursor);
    void SelectAll();
    void CopySelection() const;
    void AnnounceChanges();

    QByteArray SavedText() const;
    void SaveInBackground(const QString& path);
    void AskForFile(const QString& caption, bool forLog);
    void ToggleLog();
    void ShowFileError(const QString& what, const QString& path, const QString& cause);

    std::vector<char> m_store;
    qint64 m_storeBase = 0; // offset of m_store[0]; the text before m_first there is dead
    qint64 m_first = 0;     // oldest character held
    qint64 m_end = 0;       // one past the newest character
    bool m_afterCarriageReturn = false;
    bool m_atLineStart = true;
    qint64 m_clearedAt = 0; // text before this was cleared by the user, not dropped
    std::deque<Line> m_lines{Line{0, 0}};
    std::deque<Run> m_runs;

    // The glyph of each of the 256 characters the store can hold, so painting places each glyph
    // at its column instead of shaping text. Shaping cost much of a frame of streaming text, and
    // drew characters such as the soft hyphen as nothing, pulling the rest of the row out of
    // the columns selection and hit testing use. 0 marks a character the font lacks; text
    // holding one is drawn the ordinary way, with fallback fonts.
    struct Glyphs
    {
        QRawFont font;
        std::array<quint32, 256> index{};
    };
    static Glyphs GlyphsOf(const QFont& font);

    QFont m_font;
    QFont m_boldFont;
    Glyphs m_glyphs;
    Glyphs m_boldGlyphs;
    std::vector<QPointF> m_columnPlaces; // where each column's glyph goes, from the row's start
    std::vector<quint32> m_rowGlyphs;
    qreal m_charWidth = 8;
    int m_rowHeight = 16;
    int m_ascent = 12;
    qint64 m_columns = 80;

    qint64 m_topRow = 0;
    bool m_followEnd = true;
    bool m_layoutDirty = false;
    QBasicTimer m_frameTimer;
    QElapsedTimer m_sinceFrame; // since the last frame's layout and repaint were asked for

    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    bool m_selecting = false;

    qint64 m_announcedEnd = 0;
    QString m_unannouncedRemoval;

    bool m_timeStamps = false;
    std::function<QTime()> m_clock = &CurrentLocalTime;
    ReceiveLog m_log;
    std::function<void(QMenu&)> m_extendMenu;
    QString m_fileFolder; // where the next file dialog opens, for the rest of the session
    std::thread m_saving; // the last Save As, joined before the next one and when the view goes
};
