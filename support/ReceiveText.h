#pragma once

#include <QByteArrayView>
#include <QRgb>
#include <QString>
#include <QTime>

#include <array>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

// The text of the receive view without the view: 8-bit characters with colour runs, split into
// lines at line breaks and into rows of a fixed number of columns. A line wider than a row breaks
// after the last blank that fits (a blank at the edge hangs past it, as it shows nothing), and
// inside a word only when one word is wider than a row, so a number is not cut in two. Only
// such lines cost anything: their row starts are found once, as their text arrives or when the
// width changes, and every other line is one row. It keeps at least the newest `keep` characters
// and drops older ones by whole lines, in batches, so its memory is bounded however long the
// stream runs.
//
// Offsets and rows are absolute: they count from the first character ever appended, so dropping
// old text never renumbers what stays, and a position held elsewhere (a selection, the top row)
// stays valid or falls before First().
class ReceiveText
{
public:
    static constexpr qsizetype kKeepCharacters = 16 * 1024 * 1024;

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
    // One colour run clipped to the text held.
    struct RunSpan
    {
        qint64 start = 0;
        qint64 end = 0;
        QRgb colour = 0;
        bool bold = false;
    };
    // The characters one row shows, and the end of the line it belongs to.
    struct RowSpan
    {
        qint64 from;
        qint64 to;
        qint64 lineEnd;
    };

    explicit ReceiveText(qsizetype keep = kKeepCharacters);

    // "\r\n", "\n" and a lone "\r" end a line; a "\r\n" split over two appends still ends one.
    // Returns the number of characters stored, line breaks and time stamps included.
    qsizetype Append(QByteArrayView text, QRgb colour, bool bold);

    // Empties the text. The line-break state is kept, so the second half of a "\r\n" that
    // straddles the Clear does not show as an empty line.
    void Clear();

    // While on, each new line begins with the time of its first character from `clock`; lines
    // already held stay as they are.
    void SetTimeStamps(bool on) { m_timeStamps = on; }
    bool TimeStamps() const { return m_timeStamps; }
    void SetClock(std::function<QTime()> clock) { m_clock = std::move(clock); }

    // Called with the characters each append stores, exactly as stored, before any old text is
    // dropped for them.
    void SetStoreListener(std::function<void(QByteArrayView stored)> listener)
    {
        m_storeListener = std::move(listener);
    }
    // Called with the span of characters about to be dropped, while they can still be read.
    void SetDropListener(std::function<void(qint64 from, qint64 to)> listener)
    {
        m_dropListener = std::move(listener);
    }

    qsizetype Keep() const { return m_keep; }
    // The most ever held: what is kept and the batch gathered before a drop.
    qsizetype MostHeld() const { return m_keep + m_keep / 8; }

    qint64 First() const { return m_first; }
    qint64 End() const { return m_end; }
    qsizetype Size() const { return static_cast<qsizetype>(m_end - m_first); }
    // Characters dropped since the last Clear to keep the size bounded.
    qint64 Dropped() const { return m_first - m_clearedAt; }

    // Positions outside the text are clamped to it.
    QByteArrayView Bytes(qint64 from, qint64 to) const;
    QByteArrayView Bytes() const { return Bytes(m_first, m_end); }
    QString Text(qint64 from, qint64 to) const;
    char At(qint64 offset) const { return m_store[static_cast<std::size_t>(offset - m_storeBase)]; }

    // The word around `offset`: the characters up to the nearest blank or line break each way.
    std::pair<qint64, qint64> WordAt(qint64 offset) const;

    // The colour runs that cover the text, oldest first; a run may start before First().
    const std::deque<Run>& Runs() const { return m_runs; }
    // The run at `offset`, start and end clipped to the text; an empty span past the end.
    RunSpan RunAt(qint64 offset) const;

    // Rows of the given width. Changing it lays every line out again and renumbers every row;
    // offsets stay.
    void SetColumns(qint64 columns);
    qint64 Columns() const { return m_columns; }
    qint64 FirstRow() const { return m_lines.front().row; }
    qint64 EndRow() const;
    qint64 RowOfOffset(qint64 offset) const;
    qint64 OffsetOfRow(qint64 row) const;
    RowSpan Row(qint64 row) const;
    // The offset `column` characters into `row`, held to the row's line.
    qint64 OffsetAt(qint64 row, qint64 column) const;
    // The column `offset` shows at in its row (RowOfOffset).
    qint64 ColumnOf(qint64 offset) const;

private:
    qint64 LineEnd(std::size_t line) const;
    qint64 RowsOfLine(std::size_t line) const;
    // Index in m_breaks of the first row start after `offset`.
    std::size_t BreakAfter(qint64 offset) const;
    // Where the row that starts at `from` ends in a line that ends at `lineEnd`.
    qint64 RowEnd(qint64 from, qint64 lineEnd) const;
    // Adds to `breaks` the starts of the rows after the one at `from`, as far as they are
    // settled: a row the rest of an unfinished line fits in may still grow.
    void Wrap(qint64 from, qint64 lineEnd, std::deque<qint64>& breaks) const;
    // The start of the last row of the newest line.
    qint64 LastRowStart() const;
    std::size_t LineAtOffset(qint64 offset) const;
    std::size_t LineAtRow(qint64 row) const;
    void DropOldest();

    qsizetype m_keep;
    std::vector<char> m_store;
    qint64 m_storeBase = 0; // offset of m_store[0]; the text before m_first there is dead
    qint64 m_first = 0;     // oldest character held
    qint64 m_end = 0;       // one past the newest character
    bool m_afterCarriageReturn = false;
    bool m_atLineStart = true;
    qint64 m_clearedAt = 0; // text before this was cleared, not dropped
    std::deque<Line> m_lines{Line{0, 0}};
    // Offsets where a row begins inside a line, in order; a line without any is one row.
    std::deque<qint64> m_breaks;
    std::deque<Run> m_runs;
    qint64 m_columns = 80;

    bool m_timeStamps = false;
    std::function<QTime()> m_clock;
    QTime m_stampTime; // of the last stamp written
    bool m_stampWritten = false;
    std::array<char, 13> m_stamp{};
    std::function<void(QByteArrayView)> m_storeListener;
    std::function<void(qint64, qint64)> m_dropListener;
};
