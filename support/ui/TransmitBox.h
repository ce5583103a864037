#pragma once

#include <QPlainTextEdit>

// The transmit box. Text layout costs grow with the length of a line, and a megabyte on one line
// would hold the window for seconds at every keystroke, so the box holds at most kMaxCharacters:
// a paste or drop that would pass it is refused whole, and a key that would pass it is ignored.
class TransmitBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxCharacters = 16 * 1024;

    using QPlainTextEdit::QPlainTextEdit;

signals:
    // Text was refused; `wanted` is the length the box would have had.
    void Refused(qsizetype wanted);

protected:
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    qsizetype LengthAfterInserting(qsizetype inserted) const;
};
