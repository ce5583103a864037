#include "support/ui/TransmitBox.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

qsizetype TransmitBox::LengthAfterInserting(qsizetype inserted) const
{
    const QTextCursor cursor = textCursor();
    // The document counts one more character than the text holds: its last paragraph's end.
    const qsizetype length = document()->characterCount() - 1;
    return length - (cursor.selectionEnd() - cursor.selectionStart()) + inserted;
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
    const QString text = event->text();
    if (!text.isEmpty() && text.at(0).isPrint() &&
        LengthAfterInserting(text.size()) > kMaxCharacters) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
