#pragma once

// How long the GUI thread's event loop is kept from its other work, seen two ways: the time of
// each event it hands out, and the gaps between the ticks of a 1 ms timer.

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>

// A display frame: a pass of the loop longer than this is a visible stall.
inline constexpr qint64 kFrameBudgetNs = 16'000'000;

// Times every event the loop hands out, outermost deliveries only: a paint, a timer, a socket
// notification with everything its handlers do. The longest one is the longest the loop was kept
// from its other work.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Events sent on other threads do not hold up this loop.
        if (m_depth > 0 || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        ++m_depth;
        // Taken now: the event and its receiver may be gone once it has been handled.
        const QEvent::Type type = event->type();
        const char* const receiverClass = receiver->metaObject()->className();
        const qint64 start = m_clock.nsecsElapsed();
        const bool result = QApplication::notify(receiver, event);
        const qint64 took = m_clock.nsecsElapsed() - start;
        if (took > longestEventNs) {
            longestEventNs = took;
            longestEventType = type;
            longestEventReceiver = receiverClass;
        }
        if (took > kFrameBudgetNs)
            ++eventsOverBudget;
        --m_depth;
        return result;
    }

    void ResetFigures()
    {
        longestEventNs = 0;
        longestEventType = QEvent::None;
        longestEventReceiver = "";
        eventsOverBudget = 0;
    }

    qint64 longestEventNs = 0;
    QEvent::Type longestEventType = QEvent::None;
    const char* longestEventReceiver = "";
    int eventsOverBudget = 0;

private:
    int m_depth = 0;
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

// A 1 ms tick also sees stalls that no single event accounts for: several events handled in one
// pass, or time spent in the event dispatcher itself.
class TickGapWatch
{
public:
    TickGapWatch()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, &m_tick, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 gap = now - m_lastTick;
            longestGapNs = std::max(longestGapNs, gap);
            if (gap > kFrameBudgetNs + kPeriodNs)
                ++gapsOverBudget;
            m_lastTick = now;
        });
    }

    void Start()
    {
        longestGapNs = 0;
        gapsOverBudget = 0;
        m_clock.start();
        m_lastTick = 0;
        m_tick.start(1);
    }

    void Stop() { m_tick.stop(); }

    qint64 longestGapNs = 0;
    // Gaps longer than a frame beyond the tick's own period.
    int gapsOverBudget = 0;

private:
    static constexpr qint64 kPeriodNs = 1'000'000;

    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
};
