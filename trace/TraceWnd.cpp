#include "trace/TraceWnd.h"

#include "support/ui/ReceiveView.h"
#include "trace/TraceFrame.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLocalSocket>
#include <QScreen>
#include <QVBoxLayout>

#include <utility>

namespace {

const QColor kNormalColour(0, 0, 0);
const QColor kDimmedColour(150, 150, 150);

// The view is trimmed to the log in batches, so a full window does not rebuild it per line.
constexpr qint64 kViewSlack = TraceLog::kMaxLines / 4;

QString KeepsText(qint64 dropped)
{
    return dropped == 0 ? QStringLiteral("Keeps the newest %1 lines").arg(TraceLog::kMaxLines)
                        : QStringLiteral("Older lines dropped: keeps the newest %1")
                              .arg(TraceLog::kMaxLines);
}

} // namespace

CTraceWnd::CTraceWnd(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(2, 2, 2, 2);
    m_layout->setSpacing(2);
    m_displayLog = new QCheckBox(QStringLiteral("Display Log"), this);
    m_displayLog->setChecked(true);
    m_status = new QLabel(KeepsText(0), this);
    m_status->setWordWrap(true);
    m_view = new ReceiveView(this);
    m_layout->addWidget(m_displayLog);
    m_layout->addWidget(m_status);
    m_layout->addWidget(m_view, 1);
    connect(m_displayLog, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            ShowPending();
    });
}

CTraceWnd::~CTraceWnd()
{
    // Connections still open would report their end to a window half torn down.
    if (m_listener)
        for (QLocalSocket* socket : m_listener->findChildren<QLocalSocket*>())
            socket->disconnect(this);
}

bool CTraceWnd::Listen(const QString& socketPath, QString* error, int maxSenders)
{
    auto listener = std::make_unique<TraceListener>(maxSenders);
    if (!listener->Listen(socketPath, error))
        return false;
    connect(listener.get(), &TraceListener::Connected, this, &CTraceWnd::TakeConnection);
    connect(listener.get(), &TraceListener::Refused, this, &CTraceWnd::NoteRefusal);
    listener->setParent(this);
    m_listener = listener.release();
    return true;
}

void CTraceWnd::TakeConnection(QLocalSocket* socket)
{
    auto reader = std::make_shared<trace_wire::FrameReader>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] {
        for (const trace_wire::Frame& frame : reader->Feed(socket->readAll())) {
            if (frame.IsFault())
                Note(frame.fault);
            else
                HandleCommand(frame.command);
            if (!reader->IsBroken())
                socket->write(&trace_wire::kAcknowledgement, 1);
        }
        if (reader->IsBroken())
            socket->abort();
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket, reader] {
        if (const QString fault = reader->UnfinishedFault(); !fault.isEmpty())
            Note(fault);
        socket->deleteLater();
    });
}

void CTraceWnd::NoteRefusal(const QString& why)
{
    // Once: a flood would otherwise push every line worth reading out of the window.
    if (std::exchange(m_refusalNoted, true))
        return;
    Note(QStringLiteral("a sender was turned away: %1; later refusals are not noted").arg(why));
}

void CTraceWnd::HandleCommand(QByteArrayView command)
{
    TraceCommand parsed = ParseTraceCommand(command);
    switch (parsed.kind) {
    case TraceCommand::Kind::Line:
        AddLine(std::move(parsed.text), TraceLog::Tone::Normal);
        break;
    case TraceCommand::Kind::TimedLine:
        AddLine(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toLatin1() +
                    parsed.text,
                TraceLog::Tone::Normal);
        break;
    case TraceCommand::Kind::Rect:
        m_left = parsed.left;
        m_top = parsed.top;
        m_right = parsed.right;
        m_bottom = parsed.bottom;
        MoveToRect();
        break;
    case TraceCommand::Kind::Clear:
        m_log.Clear();
        RebuildView();
        UpdateStatus();
        break;
    case TraceCommand::Kind::Unknown:
        if (!parsed.fault.isEmpty())
            parsed.text += " (ignored: " + parsed.fault.toLatin1() + ')';
        AddLine(std::move(parsed.text), TraceLog::Tone::Dimmed);
        break;
    }
}

void CTraceWnd::MoveToRect()
{
    // The frame goes to the top-left corner and the window gets the rectangle's size: the frame's
    // own size is only known once the window manager has decorated the window.
    const QScreen* desktop = QGuiApplication::primaryScreen();
    const QRect available = desktop ? desktop->availableVirtualGeometry()
                                    : QRect(kDefaultLeft, kDefaultTop, kDefaultRight - kDefaultLeft,
                                            kDefaultBottom - kDefaultTop);
    const QRect fitted = FitTraceRect(m_left, m_top, m_right, m_bottom, available);
    move(fitted.topLeft());
    resize(fitted.size());
}

void CTraceWnd::Note(const QString& text)
{
    AddLine('(' + text.toLatin1() + ')', TraceLog::Tone::Dimmed);
}

void CTraceWnd::AddLine(QByteArray text, TraceLog::Tone tone)
{
    const qint64 droppedBefore = m_log.Dropped();
    m_log.Append(std::move(text), tone);
    if (droppedBefore == 0 && m_log.Dropped() != 0)
        UpdateStatus();
    if (m_displayLog->isChecked())
        ShowPending();
}

void CTraceWnd::ShowPending()
{
    if (m_shownEnd < m_log.FirstNumber() ||
        m_log.EndNumber() - m_viewFirst > m_log.Size() + kViewSlack) {
        RebuildView();
        return;
    }
    // Lines of one tone go to the view together: a rebuild hands it thousands at once.
    QByteArray run;
    while (m_shownEnd < m_log.EndNumber()) {
        const TraceLog::Tone tone = m_log.At(m_shownEnd).tone;
        run.clear();
        for (; m_shownEnd < m_log.EndNumber() && m_log.At(m_shownEnd).tone == tone; ++m_shownEnd)
            run += m_log.At(m_shownEnd).text + '\n';
        m_view->Append(run, tone == TraceLog::Tone::Dimmed ? kDimmedColour : kNormalColour, false);
    }
}

void CTraceWnd::RebuildView()
{
    auto* view = new ReceiveView(this);
    delete m_layout->replaceWidget(m_view, view);
    delete m_view;
    m_view = view;
    m_viewFirst = m_shownEnd = m_log.FirstNumber();
    ShowPending();
}

void CTraceWnd::UpdateStatus()
{
    m_status->setText(KeepsText(m_log.Dropped()));
}
