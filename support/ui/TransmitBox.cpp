#include "support/ui/TransmitBox.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <memory>

namespace {

// What assistive tools see of the box. Qt's own interface for a plain text edit writes into
// the document directly, past any check of the box, so the box brings its own, whose every
// write goes through ReplaceRange.
class TransmitBoxAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface
{
public:
    explicit TransmitBoxAccessible(TransmitBox* box)
        : QAccessibleWidget(box, QAccessible::EditableText)
    {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = !Box()->isReadOnly();
        state.readOnly = Box()->isReadOnly();
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? Box()->toPlainText() : QAccessibleWidget::text(type);
    }

    void setText(QAccessible::Text type, const QString& text) override
    {
        if (type == QAccessible::Value)
            Box()->ReplaceRange(0, Box()->Length(), text);
        else
            QAccessibleWidget::setText(type, text);
    }

    void deleteText(int startOffset, int endOffset) override
    {
        Box()->ReplaceRange(startOffset, endOffset, QString());
    }
    void insertText(int offset, const QString& text) override
    {
        Box()->ReplaceRange(offset, offset, text);
    }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        Box()->ReplaceRange(startOffset, endOffset, text);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        const QTextCursor cursor = Box()->textCursor();
        const bool has = selectionIndex == 0 && cursor.hasSelection();
        *startOffset = has ? cursor.selectionStart() : 0;
        *endOffset = has ? cursor.selectionEnd() : 0;
    }
    int selectionCount() const override { return Box()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex != 0)
            return;
        QTextCursor cursor = Box()->textCursor();
        cursor.clearSelection();
        Box()->setTextCursor(cursor);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0)
            return;
        QTextCursor cursor = Box()->textCursor();
        cursor.setPosition(Clamped(startOffset));
        cursor.setPosition(Clamped(endOffset), QTextCursor::KeepAnchor);
        Box()->setTextCursor(cursor);
    }

    int cursorPosition() const override { return Box()->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        QTextCursor cursor = Box()->textCursor();
        cursor.setPosition(Clamped(position));
        Box()->setTextCursor(cursor);
    }

    QString text(int startOffset, int endOffset) const override
    {
        const int start = Clamped(startOffset);
        return Box()->toPlainText().mid(start, std::max(Clamped(endOffset) - start, 0));
    }
    int characterCount() const override { return static_cast<int>(Box()->Length()); }

    QRect characterRect(int offset) const override
    {
        QTextCursor cursor(Box()->document());
        cursor.setPosition(Clamped(offset));
        QRect rect = Box()->cursorRect(cursor);
        const QString character = text(offset, offset + 1);
        rect.setWidth(Box()->fontMetrics().horizontalAdvance(
            character.isEmpty() ? QStringLiteral(" ") : character));
        return QRect(Box()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = Box()->viewport()->mapFromGlobal(point);
        return Box()->viewport()->rect().contains(local)
                   ? Box()->cursorForPosition(local).position()
                   : -1;
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        // The end first, then the start: a long substring shows from its beginning.
        QTextCursor saved = Box()->textCursor();
        for (int index : {endIndex, startIndex}) {
            QTextCursor cursor(Box()->document());
            cursor.setPosition(Clamped(index));
            Box()->setTextCursor(cursor);
            Box()->ensureCursorVisible();
        }
        const int vertical = Box()->verticalScrollBar()->value();
        const int horizontal = Box()->horizontalScrollBar()->value();
        Box()->setTextCursor(saved);
        Box()->verticalScrollBar()->setValue(vertical);
        Box()->horizontalScrollBar()->setValue(horizontal);
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        // The box shows its text in one format: one run over the whole of it.
        *startOffset = offset < 0 || offset > characterCount() ? -1 : 0;
        *endOffset = offset < 0 || offset > characterCount() ? -1 : characterCount();
        return QString();
    }

private:
    TransmitBox* Box() const { return static_cast<TransmitBox*>(widget()); }
    int Clamped(int offset) const { return std::clamp(offset, 0, characterCount()); }
};

QAccessibleInterface* TransmitBoxAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TransmitBox::staticMetaObject.className()))
        if (auto* box = qobject_cast<TransmitBox*>(object))
            return new TransmitBoxAccessible(box);
    return nullptr;
}

// Keys that put a character into the text. Tab and Return are not printable but enter text all
// the same (Tab only where it does not move the focus).
bool EntersText(const QKeyEvent& event, bool tabChangesFocus)
{
    const QString text = event.text();
    if (text.isEmpty())
        return false;
    const QChar first = text.at(0);
    return first.isPrint() || first == u'\r' || first == u'\n' ||
           (first == u'\t' && !tabChangesFocus);
}

} // namespace

TransmitBox::TransmitBox(const QString& text, QWidget* parent) : QPlainTextEdit(text, parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(TransmitBoxAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

qsizetype TransmitBox::Length() const
{
    // The document counts one more character than the text holds: its last paragraph's end.
    return document()->characterCount() - 1;
}

qsizetype TransmitBox::LengthAfterInserting(qsizetype inserted) const
{
    const QTextCursor cursor = textCursor();
    return Length() - (cursor.selectionEnd() - cursor.selectionStart()) + inserted;
}

bool TransmitBox::ReplaceRange(qsizetype start, qsizetype end, const QString& text)
{
    if (isReadOnly())
        return false;
    const qsizetype length = Length();
    start = std::clamp<qsizetype>(start, 0, length);
    end = std::clamp<qsizetype>(end, start, length);
    const qsizetype wanted = length - (end - start) + text.size();
    if (wanted > kMaxCharacters) {
        emit Refused(wanted);
        return false;
    }
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    cursor.insertText(text);
    setTextCursor(cursor);
    return true;
}

void TransmitBox::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText()) {
        const qsizetype wanted = LengthAfterInserting(source->text().size());
        if (wanted > kMaxCharacters) {
            emit Refused(wanted);
            return;
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

void TransmitBox::keyPressEvent(QKeyEvent* event)
{
    if (EntersText(*event, tabChangesFocus()) &&
        LengthAfterInserting(event->text().size()) > kMaxCharacters) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TransmitBox::inputMethodEvent(QInputMethodEvent* event)
{
    // The commit replaces the selection and, where the input method asks, characters around the
    // cursor; only what it adds counts against the limit.
    const qsizetype wanted = LengthAfterInserting(event->commitString().size()) -
                             std::min<qsizetype>(event->replacementLength(), Length());
    if (!event->commitString().isEmpty() && wanted > kMaxCharacters) {
        emit Refused(wanted);
        event->accept();
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void TransmitBox::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    if (!actions().isEmpty()) {
        menu->addSeparator();
        menu->addActions(actions());
    }
    menu->exec(event->globalPos());
}
