#pragma once

#include "trace/TraceListener.h"
#include "trace/TraceLog.h"

#include <QByteArrayView>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLocalSocket;
class QVBoxLayout;
class ReceiveView;

// The trace display window: shows the trace lines sent to it, by this process directly or by
// other processes through its local socket, newest at the bottom.
class CTraceWnd : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kDefaultLeft = 0;
    static constexpr int kDefaultTop = 0;
    static constexpr int kDefaultRight = 200;
    static constexpr int kDefaultBottom = 700;

    explicit CTraceWnd(QWidget* parent = nullptr);
    ~CTraceWnd() override;

    // Starts taking commands from other processes at `socketPath`, from at most `maxSenders` at
    // a time. False, with `error` set, when the name cannot be taken.
    bool Listen(const QString& socketPath, QString* error,
                int maxSenders = TraceListener::kDefaultMaxConnections);

    // Acts on one command (its bytes without the closing NUL).
    void HandleCommand(QByteArrayView command);

    // Moves and sizes the window to the rectangle it holds.
    void MoveToRect();

    const TraceLog& Log() const { return m_log; }
    ReceiveView* View() const { return m_view; }
    QCheckBox* DisplayLog() const { return m_displayLog; }

private:
    void AddLine(QByteArray text, TraceLog::Tone tone);
    void Note(const QString& text);
    void ShowPending();
    void RebuildView();
    void UpdateStatus();
    void TakeConnection(QLocalSocket* socket);
    void NoteRefusal(const QString& why);

    TraceLog m_log;
    // The first log line not yet handed to the view; a view rebuilt after older lines went
    // starts again from the log's first line.
    qint64 m_shownEnd = 0;
    qint64 m_viewFirst = 0;
    int m_left = kDefaultLeft, m_top = kDefaultTop, m_right = kDefaultRight,
        m_bottom = kDefaultBottom;

    QVBoxLayout* m_layout = nullptr;
    QCheckBox* m_displayLog = nullptr;
    QLabel* m_status = nullptr;
    ReceiveView* m_view = nullptr;
    TraceListener* m_listener = nullptr; // a child, with the connections it took as its children
    bool m_refusalNoted = false;
};
