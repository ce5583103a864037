#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QRect>
#include <QString>

#include <deque>

// What the trace window makes of one command, decided without any widget.
struct TraceCommand
{
    enum class Kind
    {
        Line,      // "xta1:<text>"
        TimedLine, // "xta1t:<text>"
        Rect,      // "xtrect:l,t,r,b"
        Clear,     // "xtc"
        Unknown,   // anything else, shown as it arrived
    };
    Kind kind = Kind::Unknown;
    QByteArray text;
    int left = 0, top = 0, right = 0, bottom = 0;
    // Why an "xtrect:" was not taken, for the note shown in its place.
    QString fault;
};

TraceCommand ParseTraceCommand(QByteArrayView command);

// Where the window goes for the rectangle l, t, r, b that a command asked for. Any sender may ask
// for any two 32-bit corners, and a window of 2^31 pixels squared takes gigabytes of backing store,
// so the size is held between kMinTraceSize and the size of `available` (the desktop's work area),
// and the rectangle is moved, as little as it takes, to lie inside `available`.
constexpr QSize kMinTraceSize(120, 100);
QRect FitTraceRect(int left, int top, int right, int bottom, const QRect& available);

// The lines a trace window holds: at most kMaxLines, the oldest dropped first. Lines carry an
// absolute number, so a view that shows part of them can ask for what came after its last one.
class TraceLog
{
public:
    static constexpr qsizetype kMaxLines = 20000;

    enum class Tone
    {
        Normal,
        Dimmed, // notes and commands the window does not act on
    };
    struct Line
    {
        QByteArray text;
        Tone tone;
    };

    void Append(QByteArray text, Tone tone);
    void Clear();

    qint64 FirstNumber() const { return m_first; }
    qint64 EndNumber() const { return m_first + static_cast<qint64>(m_lines.size()); }
    const Line& At(qint64 number) const
    {
        return m_lines[static_cast<std::size_t>(number - m_first)];
    }
    qsizetype Size() const { return static_cast<qsizetype>(m_lines.size()); }
    // Lines dropped for the bound since the last Clear().
    qint64 Dropped() const { return m_dropped; }

private:
    std::deque<Line> m_lines;
    qint64 m_first = 0;
    qint64 m_dropped = 0;
};
