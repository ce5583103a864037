#include "support/ReceiveText.h"

#include "support/ReceiveLog.h"

#include <algorithm>
#include <cstring>

namespace {

// The first "\r" or "\n" from `from` on, or `to`. Searched with memchr: a test per character
// was a good part of showing short pieces.
const char* FindBreak(const char* from, const char* to)
{
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', std::size_t(to - from)));
    const char* stop = lf ? lf : to;
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', std::size_t(stop - from)));
    return cr ? cr : stop;
}

} // namespace

ReceiveText::ReceiveText(qsizetype keep) : m_keep(std::max<qsizetype>(keep, 1))
{
    m_clock = &CurrentLocalTime;
    // The most the store ever holds: what is kept, the batch before a drop, and the dead text
    // before it is compacted. Reserved once, so no append pays for copying megabytes while the
    // window waits; pages are only touched as text arrives. The last term is room for the
    // append that crosses the bound.
    m_store.reserve(
        static_cast<std::size_t>(MostHeld() + m_keep / 4 + std::min<qsizetype>(m_keep, 1 << 20)));
}

qsizetype ReceiveText::Append(QByteArrayView text, QRgb colour, bool bold)
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
        return 0;

    if (m_runs.empty() || m_runs.back().colour != colour || m_runs.back().bold != bold)
        m_runs.push_back(Run{m_end, colour, bold});

    // Room for a stamp before every line this text can start.
    static_assert(std::tuple_size_v<decltype(m_stamp)> == kTimeStampLength);
    bool stampTaken = false;
    qsizetype stampRoom = 0;
    if (m_timeStamps) {
        qsizetype breaks = 0;
        for (const char* at = FindBreak(in, in + count); at != in + count;
             at = FindBreak(at + 1, in + count))
            ++breaks;
        stampRoom = (breaks + 1) * kTimeStampLength;
    }

    const std::size_t used = m_store.size();
    m_store.resize(used + static_cast<std::size_t>(count + stampRoom));
    char* const begin = m_store.data() + used;
    char* out = begin;
    bool lineStart = m_atLineStart;
    const char* const end = in + count;
    // Copied a line at a time: reports arrive as short coloured pieces of a line each.
    for (const char* at = in; at != end;) {
        if (lineStart) {
            if (m_timeStamps) {
                // Every line begun by this text shares the time the text arrived.
                if (!stampTaken) {
                    // Pieces come far faster than the clock's milliseconds change.
                    const QTime now = m_clock();
                    if (!m_stampWritten || now != m_stampTime) {
                        WriteTimeStamp(now, m_stamp.data());
                        m_stampTime = now;
                        m_stampWritten = true;
                    }
                    stampTaken = true;
                }
                out = std::copy(m_stamp.begin(), m_stamp.end(), out);
            }
            lineStart = false;
        }
        const char* const lineBreak = FindBreak(at, end);
        out = std::copy(at, lineBreak, out);
        at = lineBreak;
        if (at == end)
            break;
        if (*at++ == '\r') {
            if (at != end && *at == '\n')
                ++at;
            else if (at == end)
                m_afterCarriageReturn = true;
        }
        const qint64 lineEnd = m_end + (out - begin);
        const qint64 rowStart = LastRowStart();
        // Most lines fit a row and cost one comparison.
        if (lineEnd - rowStart > m_columns)
            Wrap(rowStart, lineEnd, m_breaks);
        m_lines.push_back(Line{lineEnd + 1, m_lines.back().row + RowsOfLine(m_lines.size() - 1)});
        *out++ = '\n';
        lineStart = true;
    }
    m_atLineStart = lineStart;
    const qint64 added = out - begin;
    m_end += added;
    m_store.resize(used + static_cast<std::size_t>(added));
    if (const qint64 rowStart = LastRowStart(); m_end - rowStart > m_columns)
        Wrap(rowStart, m_end, m_breaks);
    if (m_storeListener)
        m_storeListener(QByteArrayView(begin, added));

    if (m_end - m_first > MostHeld())
        DropOldest();
    return added;
}

void ReceiveText::Clear()
{
    // Offsets stay absolute, so the next character is numbered as if nothing had gone.
    m_store.clear();
    m_storeBase = m_first = m_clearedAt = m_end;
    m_lines = {Line{m_end, 0}};
    m_breaks.clear();
    m_runs.clear();
    m_atLineStart = true;
}

QByteArrayView ReceiveText::Bytes(qint64 from, qint64 to) const
{
    from = std::clamp(from, m_first, m_end);
    to = std::clamp(to, from, m_end);
    return QByteArrayView(m_store.data() + (from - m_storeBase), to - from);
}

QString ReceiveText::Text(qint64 from, qint64 to) const
{
    const QByteArrayView bytes = Bytes(from, to);
    return QString::fromLatin1(bytes.data(), bytes.size());
}

std::pair<qint64, qint64> ReceiveText::WordAt(qint64 offset) const
{
    const auto inWord = [this](qint64 at) { return At(at) != ' ' && At(at) != '\n'; };
    qint64 start = std::clamp(offset, m_first, m_end);
    qint64 end = start;
    while (start > m_first && inWord(start - 1))
        --start;
    while (end < m_end && inWord(end))
        ++end;
    return {start, end};
}

ReceiveText::RunSpan ReceiveText::RunAt(qint64 offset) const
{
    if (m_runs.empty() || offset >= m_end || offset < m_first)
        return RunSpan{m_end, m_end};
    const auto next = std::upper_bound(m_runs.begin(), m_runs.end(), offset,
                                       [](qint64 o, const Run& r) { return o < r.start; });
    const Run& run = *std::prev(next);
    return RunSpan{std::max(run.start, m_first), next == m_runs.end() ? m_end : next->start,
                   run.colour, run.bold};
}

qint64 ReceiveText::LineEnd(std::size_t line) const
{
    return line + 1 < m_lines.size() ? m_lines[line + 1].start - 1 : m_end;
}

qint64 ReceiveText::RowEnd(qint64 from, qint64 lineEnd) const
{
    const qint64 edge = from + m_columns;
    if (lineEnd <= edge)
        return lineEnd;
    // A blank just past the edge ends the row: it hangs there, where it shows nothing.
    if (At(edge) == ' ')
        return edge + 1;
    // After the last blank in the row; one the row starts with would leave it nothing else.
    for (qint64 at = edge; at > from + 1; --at)
        if (At(at - 1) == ' ')
            return at;
    return edge; // one word wider than the row
}

void ReceiveText::Wrap(qint64 from, qint64 lineEnd, std::deque<qint64>& breaks) const
{
    for (qint64 end = RowEnd(from, lineEnd); end < lineEnd; end = RowEnd(from, lineEnd)) {
        breaks.push_back(end);
        from = end;
    }
}

qint64 ReceiveText::LastRowStart() const
{
    const qint64 lineStart = m_lines.back().start;
    return !m_breaks.empty() && m_breaks.back() > lineStart ? m_breaks.back() : lineStart;
}

std::size_t ReceiveText::BreakAfter(qint64 offset) const
{
    return static_cast<std::size_t>(std::upper_bound(m_breaks.begin(), m_breaks.end(), offset) -
                                    m_breaks.begin());
}

qint64 ReceiveText::RowsOfLine(std::size_t line) const
{
    if (line + 1 < m_lines.size())
        return m_lines[line + 1].row - m_lines[line].row;
    const qint64 start = m_lines[line].start;
    if (m_breaks.empty() || m_breaks.back() <= start)
        return 1;
    return 1 + static_cast<qint64>(m_breaks.size() - BreakAfter(start));
}

qint64 ReceiveText::EndRow() const
{
    return m_lines.back().row + RowsOfLine(m_lines.size() - 1);
}

std::size_t ReceiveText::LineAtOffset(qint64 offset) const
{
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), offset,
                               [](qint64 o, const Line& l) { return o < l.start; });
    return it == m_lines.begin() ? 0 : static_cast<std::size_t>(it - m_lines.begin()) - 1;
}

std::size_t ReceiveText::LineAtRow(qint64 row) const
{
    auto it = std::upper_bound(m_lines.begin(), m_lines.end(), row,
                               [](qint64 r, const Line& l) { return r < l.row; });
    return it == m_lines.begin() ? 0 : static_cast<std::size_t>(it - m_lines.begin()) - 1;
}

qint64 ReceiveText::RowOfOffset(qint64 offset) const
{
    offset = std::clamp(offset, m_first, m_end);
    const std::size_t line = LineAtOffset(offset);
    const Line& l = m_lines[line];
    if (RowsOfLine(line) == 1)
        return l.row;
    return l.row + static_cast<qint64>(BreakAfter(offset) - BreakAfter(l.start));
}

qint64 ReceiveText::OffsetOfRow(qint64 row) const
{
    return Row(row).from;
}

ReceiveText::RowSpan ReceiveText::Row(qint64 row) const
{
    const std::size_t line = LineAtRow(row);
    const Line& l = m_lines[line];
    const qint64 lineEnd = LineEnd(line);
    const qint64 rows = RowsOfLine(line);
    if (rows == 1)
        return RowSpan{l.start, lineEnd, lineEnd};
    const qint64 index = std::clamp<qint64>(row - l.row, 0, rows - 1);
    const std::size_t first = BreakAfter(l.start);
    const qint64 from = index == 0 ? l.start : m_breaks[first + std::size_t(index) - 1];
    const qint64 to = index + 1 < rows ? m_breaks[first + std::size_t(index)] : lineEnd;
    return RowSpan{from, to, lineEnd};
}

qint64 ReceiveText::OffsetAt(qint64 row, qint64 column) const
{
    const RowSpan span = Row(row);
    return span.from + std::clamp<qint64>(column, 0, span.to - span.from);
}

qint64 ReceiveText::ColumnOf(qint64 offset) const
{
    offset = std::clamp(offset, m_first, m_end);
    return offset - Row(RowOfOffset(offset)).from;
}

void ReceiveText::SetColumns(qint64 columns)
{
    columns = std::max<qint64>(columns, 1);
    if (columns == m_columns)
        return;
    m_columns = columns;
    m_breaks.clear();
    qint64 row = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        m_lines[i].row = row;
        const std::size_t before = m_breaks.size();
        const qint64 lineEnd = LineEnd(i);
        if (lineEnd - m_lines[i].start > m_columns)
            Wrap(m_lines[i].start, lineEnd, m_breaks);
        row += 1 + static_cast<qint64>(m_breaks.size() - before);
    }
}

void ReceiveText::DropOldest()
{
    const qint64 batch = m_keep / 8;
    while (m_lines.size() > 1 && m_end - m_lines[1].start >= m_keep)
        m_lines.pop_front();
    Line& first = m_lines.front();
    while (!m_breaks.empty() && m_breaks.front() <= first.start)
        m_breaks.pop_front();
    if (m_end - first.start > m_keep + batch) {
        // Only a line longer than everything kept is cut; its end rows keep their numbers. It is
        // cut where a row starts, so the rows that stay keep their breaks too, when one starts
        // near enough; else it is laid out again from the cut.
        const qint64 cut = m_end - m_keep;
        const auto kept = std::upper_bound(m_breaks.begin(), m_breaks.end(), cut);
        if (kept != m_breaks.begin() && *(kept - 1) >= cut - batch) {
            first.row += kept - m_breaks.begin();
            first.start = *(kept - 1);
            m_breaks.erase(m_breaks.begin(), kept);
        } else {
            const qint64 endRow = first.row + RowsOfLine(0);
            const qint64 lineEnd = LineEnd(0);
            while (!m_breaks.empty() && m_breaks.front() < lineEnd)
                m_breaks.pop_front();
            first.start = cut;
            std::deque<qint64> rows;
            Wrap(first.start, lineEnd, rows);
            m_breaks.insert(m_breaks.begin(), rows.begin(), rows.end());
            first.row = endRow - 1 - static_cast<qint64>(rows.size());
        }
    }
    if (m_dropListener && first.start > m_first)
        m_dropListener(m_first, first.start);
    m_first = first.start;
    while (m_runs.size() > 1 && m_runs[1].start <= m_first)
        m_runs.pop_front();

    if (m_first - m_storeBase >= m_keep / 4) {
        m_store.erase(m_store.begin(), m_store.begin() + (m_first - m_storeBase));
        m_storeBase = m_first;
    }
}
