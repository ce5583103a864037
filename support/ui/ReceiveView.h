#pragma once

#include "support/ReceiveLog.h"
#include "support/ReceiveText.h"
#include "support/ui/ColumnFont.h"
#include "support/ui/ReceiveViewAccessible.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QElapsedTimer>
#include <QRgb>
#include <QString>
#include <QTime>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

class QLabel;
class QMenu;

// Read-only coloured text that keeps up with any line rate of the serial port. Text is kept as
// 8-bit characters with colour runs; long lines wrap at the view width, at a blank where one
// fits (see ReceiveText). A fixed-pitch font makes the width a number of characters, so a line
// is laid out once, as it arrives, and only the rows on screen cost anything to paint. Appends
// only mark the view dirty; layout and repaint follow at the next display frame, and at most 30
// times a second while text streams in.
//
// The view can also keep a record: Save As writes what it holds, a live log receives every piece
// of text as it is shown, and time stamps begin each new line. All of them are off until asked
// for, so by default the view shows exactly the text appended.
class ReceiveView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // The newest text this view always keeps; older whole lines are dropped first.
    static constexpr qsizetype kKeepCharacters = ReceiveText::kKeepCharacters;

    explicit ReceiveView(QWidget* parent = nullptr);
    ~ReceiveView() override;

    // "\r\n", "\n" and a lone "\r" end a line; a "\r\n" split over two appends still ends one.
    void Append(QByteArrayView text, QColor colour, bool bold)
    {
        AppendRgb(text, colour.rgb(), bold);
    }
    // The same without a QColor, whose checks cost a noticeable share of a stream of short pieces.
    void AppendRgb(QByteArrayView text, QRgb colour, bool bold);

    // The text held, lines joined by "\n".
    QString toPlainText() const { return m_text.Text(m_text.First(), m_text.End()); }
    qsizetype textSize() const { return m_text.Size(); }

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
    void SetTimeStamps(bool on) { m_text.SetTimeStamps(on); }
    bool TimeStamps() const { return m_text.TimeStamps(); }
    // Where time stamps come from; the wall clock unless a test sets another.
    void SetClock(std::function<QTime()> clock) { m_text.SetClock(std::move(clock)); }

    // A short text over the view's top right corner, for a state the reader must not miss while
    // reading (a recording going on); empty hides it. The mouse reaches the text under it.
    void SetStatusMark(const QString& text);
    QString StatusMark() const;

    // The context menu: "Copy", "Select All", "Clear", "Save As...", "Log to File...",
    // "Time Stamps". Save As and Log to File ask for a file in a dialog that does not block.
    std::unique_ptr<QMenu> CreateContextMenu();
    // Entries an owner adds at the end of that menu, each time it is made.
    void SetMenuExtension(std::function<void(QMenu&)> extend) { m_extendMenu = std::move(extend); }

    // What assistive technology reads and moves. Offsets are those of Content(); positions
    // outside the text are held to it.
    const ReceiveText& Content() const { return m_text; }
    qint64 SelectionStart() const { return Held(std::min(m_anchor, m_cursor)); }
    qint64 SelectionEnd() const { return Held(std::max(m_anchor, m_cursor)); }
    qint64 Cursor() const { return Held(m_cursor); }
    void Select(qint64 anchor, qint64 cursor);
    // In viewport coordinates.
    qint64 OffsetAt(QPoint viewportPos) const;
    QRect CharacterRect(qint64 offset) const;
    void ScrollToOffset(qint64 offset);

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
    void MarkDirty();
    void SyncLayout();
    void Relayout();
    int PageRows() const { return std::max(1, viewport()->height() / m_font.RowHeight()); }
    qint64 Held(qint64 offset) const { return std::clamp(offset, m_text.First(), m_text.End()); }
    void SelectAll();
    void CopySelection() const;
    void PlaceStatusMark();

    QByteArray SavedText() const;
    void SaveInBackground(const QString& path);
    void AskForFile(const QString& caption, bool forLog);
    void ToggleLog();
    void ShowFileError(const QString& what, const QString& path, const QString& cause);

    ReceiveText m_text;

    ColumnFont m_font;

    qint64 m_topRow = 0;
    bool m_followEnd = true;
    bool m_layoutDirty = false;
    QBasicTimer m_frameTimer;
    QElapsedTimer m_sinceFrame; // since the last frame's layout and repaint were asked for

    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    bool m_selecting = false;

    ReceiveTextAnnouncer m_announcer;
    QLabel* m_statusMark = nullptr;

    ReceiveLog m_log;
    std::function<void(QMenu&)> m_extendMenu;
    QString m_fileFolder; // where the next file dialog opens, for the rest of the session
    std::thread m_saving; // the last Save As, joined before the next one and when the view goes
};
