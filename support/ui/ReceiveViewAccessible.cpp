#include "support/ui/ReceiveViewAccessible.h"

#include "support/ui/ReceiveView.h"

#include <algorithm>

namespace {

QAccessibleInterface* Create(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<ReceiveView*>(object))
        return new ReceiveViewAccessible(view);
    return nullptr;
}

} // namespace

ReceiveViewAccessible::ReceiveViewAccessible(ReceiveView* view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{}

void ReceiveViewAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&Create);
        return true;
    }();
    Q_UNUSED(installed);
}

void* ReceiveViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ReceiveViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString ReceiveViewAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return View()->toPlainText();
    return QAccessibleWidget::text(t);
}

void ReceiveViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    *startOffset = Relative(View()->SelectionStart());
    *endOffset = Relative(View()->SelectionEnd());
}

int ReceiveViewAccessible::selectionCount() const
{
    return View()->SelectionStart() < View()->SelectionEnd() ? 1 : 0;
}

void ReceiveViewAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ReceiveViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        View()->Select(View()->Cursor(), View()->Cursor());
}

void ReceiveViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        View()->Select(Absolute(startOffset), Absolute(endOffset));
}

int ReceiveViewAccessible::cursorPosition() const
{
    return Relative(View()->Cursor());
}

void ReceiveViewAccessible::setCursorPosition(int position)
{
    View()->Select(Absolute(position), Absolute(position));
}

QString ReceiveViewAccessible::text(int startOffset, int endOffset) const
{
    return View()->Content().Text(Absolute(startOffset), Absolute(endOffset));
}

int ReceiveViewAccessible::characterCount() const
{
    return Relative(View()->Content().End());
}

QRect ReceiveViewAccessible::characterRect(int offset) const
{
    const QRect local = View()->CharacterRect(Absolute(offset));
    return QRect(View()->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int ReceiveViewAccessible::offsetAtPoint(const QPoint& point) const
{
    const QPoint local = View()->viewport()->mapFromGlobal(point);
    if (!View()->viewport()->rect().contains(local))
        return -1;
    return Relative(View()->OffsetAt(local));
}

void ReceiveViewAccessible::scrollToSubstring(int startIndex, int)
{
    View()->ScrollToOffset(Absolute(startIndex));
}

QString ReceiveViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = -1;
    const ReceiveText::RunSpan run = View()->Content().RunAt(Absolute(offset));
    if (run.start >= run.end)
        return {};
    *startOffset = Relative(run.start);
    *endOffset = Relative(run.end);
    return QStringLiteral("font-weight:%1;color:rgb(%2,%3,%4);")
        .arg(run.bold ? QStringLiteral("bold") : QStringLiteral("normal"))
        .arg(qRed(run.colour))
        .arg(qGreen(run.colour))
        .arg(qBlue(run.colour));
}

ReceiveView* ReceiveViewAccessible::View() const
{
    return static_cast<ReceiveView*>(widget());
}

qint64 ReceiveViewAccessible::Absolute(int offset) const
{
    const ReceiveText& text = View()->Content();
    return std::clamp(text.First() + offset, text.First(), text.End());
}

int ReceiveViewAccessible::Relative(qint64 offset) const
{
    return static_cast<int>(offset - View()->Content().First());
}

void ReceiveTextAnnouncer::Removing(const ReceiveText& text, qint64 from, qint64 to)
{
    // Only what was announced needs taking back; the rest was never told.
    if (QAccessible::isActive() && from < m_announcedEnd)
        m_unannouncedRemoval += text.Text(from, std::min(to, m_announcedEnd));
}

void ReceiveTextAnnouncer::Announce(QWidget* view, const ReceiveText& text)
{
    if (QAccessible::isActive()) {
        if (!m_unannouncedRemoval.isEmpty()) {
            QAccessibleTextRemoveEvent removed(view, 0, m_unannouncedRemoval);
            QAccessible::updateAccessibility(&removed);
        }
        const qint64 from = std::max(m_announcedEnd, text.First());
        if (from < text.End()) {
            QAccessibleTextInsertEvent inserted(view, static_cast<int>(from - text.First()),
                                                text.Text(from, text.End()));
            QAccessible::updateAccessibility(&inserted);
        }
    }
    m_unannouncedRemoval.clear();
    m_announcedEnd = text.End();
}

void ReceiveTextAnnouncer::Selected(QWidget* view, const ReceiveText& text, qint64 start,
                                    qint64 end, qint64 cursor)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleTextSelectionEvent event(view, static_cast<int>(start - text.First()),
                                        static_cast<int>(end - text.First()));
    event.setCursorPosition(static_cast<int>(cursor - text.First()));
    QAccessible::updateAccessibility(&event);
}
