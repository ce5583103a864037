#pragma once

#include <QPlainTextEdit>

// The transmit box. Text layout costs grow with the length of a line, and a megabyte on one line
// would hold the window for seconds at every keystroke, so the box holds at most kMaxCharacters
// whichever way text comes in: a paste, drop, input-method text or text set by an assistive
// tool that would pass it is refused whole, and a key that would pass it is ignored.
class TransmitBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxCharacters = 16 * 1024;

    explicit TransmitBox(const QString& text, QWidget* parent = nullptr);
    explicit TransmitBox(QWidget* parent = nullptr) : TransmitBox(QString(), parent) {}

    // Characters in the box.
    qsizetype Length() const;

    // Puts `text` in place of the characters from `start` to `end` as one edit, and leaves the
    // cursor after it. Refused (false, Refused emitted, text unchanged) when the box would pass
    // kMaxCharacters; false without a word when the box is read-only.
    bool ReplaceRange(qsizetype start, qsizetype end, const QString& text);

signals:
    // Text was refused; `wanted` is the length the box would have had.
    void Refused(qsizetype wanted);

protected:
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    // The standard editing entries, then the box's own actions (QWidget::addAction).
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    qsizetype LengthAfterInserting(qsizetype inserted) const;
};
