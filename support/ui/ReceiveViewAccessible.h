#pragma once

#include "support/ReceiveText.h"

#include <QAccessibleWidget>

class ReceiveView;

// Lets screen readers and other assistive technology read the received text, which the view
// paints itself and which would otherwise be invisible to them. Offsets here count from the
// oldest character the view holds, as assistive technology expects; the view's own offsets are
// absolute.
class ReceiveViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ReceiveViewAccessible(ReceiveView* view);

    // Registers the adapter for every receive view, once per process.
    static void Install();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    ReceiveView* View() const;
    qint64 Absolute(int offset) const;
    int Relative(qint64 offset) const;
};

// Tells assistive technology what the text of a receive view gained and lost, at most once a
// frame rather than on every append.
class ReceiveTextAnnouncer
{
public:
    // Call before the characters from `from` to `to` leave the text, while they can be read.
    void Removing(const ReceiveText& text, qint64 from, qint64 to);
    // Sends what was removed and added since the last call.
    void Announce(QWidget* view, const ReceiveText& text);
    static void Selected(QWidget* view, const ReceiveText& text, qint64 start, qint64 end,
                         qint64 cursor);

private:
    qint64 m_announcedEnd = 0;
    QString m_unannouncedRemoval;
};
