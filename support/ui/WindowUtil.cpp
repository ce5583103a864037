#include "support/ui/WindowUtil.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

QString CWindowUtil::GetWindowText(const QWidget* wnd)
{
    QString text;
    if (auto* edit = qobject_cast<const QLineEdit*>(wnd))
        text = edit->text();
    else if (auto* box = qobject_cast<const QPlainTextEdit*>(wnd))
        text = box->toPlainText();
    else if (auto* combo = qobject_cast<const QComboBox*>(wnd))
        text = combo->currentText();
    else if (auto* button = qobject_cast<const QAbstractButton*>(wnd))
        text = button->text();
    else if (auto* label = qobject_cast<const QLabel*>(wnd))
        text = label->text();
    else if (wnd)
        text = wnd->windowTitle();
    return text;
}

QString CWindowUtil::GetWindowTextTrimmed(const QWidget* wnd)
{
    return GetWindowText(wnd).trimmed();
}

QList<QWidget*> CWindowUtil::ListChildWindows(const QWidget* parent)
{
    QList<QWidget*> children;
    if (!parent)
        return children;
    // Dialogs and message boxes owned by the window are Qt children too, but they are windows of
    // their own, not controls laid out on it.
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow())
            children.append(child);
    return children;
}

WinRect CWindowUtil::GetRectInParent(const QWidget* wnd)
{
    if (!wnd || !wnd->parentWidget())
        return {};
    const QRect g = wnd->geometry();
    return {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void CWindowUtil::EnableChildrenInRect(QWidget* parent, bool enable, const WinRect& rect,
                                       const QSet<int>& skipIds)
{
    for (QWidget* child : ListChildWindows(parent)) {
        const QVariant id = child->property("ctrlId");
        if (id.isValid() && skipIds.contains(id.toInt()))
            continue;
        const WinRect r = GetRectInParent(child);
        if (rect.Contains(r.left, r.top) && rect.Contains(r.right, r.bottom))
            child->setEnabled(enable);
    }
}
