#include "trace/TraceLog.h"

#include <QList>

#include <algorithm>
#include <limits>

namespace {

bool ParseInt32(QByteArrayView text, int* value)
{
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return false;
    *value = static_cast<int>(n);
    return true;
}

} // namespace

TraceCommand ParseTraceCommand(QByteArrayView command)
{
    TraceCommand parsed;
    // The timed prefix first: "xta1:" is not a prefix of it, but keep the longer test first
    // anyway so adding a prefix later cannot shadow it.
    if (command.startsWith("xta1t:")) {
        parsed.kind = TraceCommand::Kind::TimedLine;
        parsed.text = command.sliced(6).toByteArray();
    } else if (command.startsWith("xta1:")) {
        parsed.kind = TraceCommand::Kind::Line;
        parsed.text = command.sliced(5).toByteArray();
    } else if (command == "xtc") {
        parsed.kind = TraceCommand::Kind::Clear;
    } else if (command.startsWith("xtrect:")) {
        const QList<QByteArray> parts = command.sliced(7).toByteArray().split(',');
        int values[4] = {};
        bool ok = parts.size() == 4;
        for (int i = 0; ok && i < 4; ++i)
            ok = ParseInt32(parts[i], &values[i]);
        if (ok) {
            parsed.kind = TraceCommand::Kind::Rect;
            parsed.left = values[0];
            parsed.top = values[1];
            parsed.right = values[2];
            parsed.bottom = values[3];
        } else {
            parsed.text = command.toByteArray();
            parsed.fault = QStringLiteral("needs four comma-separated whole numbers");
        }
    } else {
        parsed.text = command.toByteArray();
    }
    return parsed;
}

QRect FitTraceRect(int left, int top, int right, int bottom, const QRect& available)
{
    // Wide arithmetic throughout: right - left of two 32-bit numbers does not fit in 32 bits.
    const auto fit = [](qint64 start, qint64 end, qint64 minimum, qint64 areaStart,
                        qint64 areaSize) {
        const qint64 size = std::max(std::min(end - start, areaSize), minimum);
        // An area smaller than the minimum: start where it starts and let the rest hang over.
        const qint64 latest = std::max(areaStart, areaStart + areaSize - size);
        return std::pair{std::clamp(start, areaStart, latest), size};
    };
    const auto [x, width] =
        fit(left, right, kMinTraceSize.width(), available.x(), available.width());
    const auto [y, height] =
        fit(top, bottom, kMinTraceSize.height(), available.y(), available.height());
    return QRect(static_cast<int>(x), static_cast<int>(y), static_cast<int>(width),
                 static_cast<int>(height));
}

void TraceLog::Append(QByteArray text, Tone tone)
{
    m_lines.push_back(Line{std::move(text), tone});
    if (m_lines.size() > static_cast<std::size_t>(kMaxLines)) {
        m_lines.pop_front();
        ++m_first;
        ++m_dropped;
    }
}

void TraceLog::Clear()
{
    m_first = EndNumber();
    m_lines.clear();
    m_dropped = 0;
}
