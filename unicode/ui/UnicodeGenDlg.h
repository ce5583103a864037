#pragma once

#include "unicode/UnicodePrint.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QComboBox;
class QPlainTextEdit;

// Turns typed text into the module's Unicode "Print" form. It is a window of its own: created
// without an owner, shown modeless, and deleted when the user closes it, so any number may be
// open beside the console and none depends on who opened it.
class CUnicodeGenDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CUnicodeGenDlg(QWidget* parent = nullptr);

    // The control with this id, as the dialog template places it.
    QWidget* Item(int id) const;

private:
    void CreateItems();
    void FillFontList();
    void OnFontChosen(const QString& family);
    void OnTextRefused(qsizetype wanted);
    void OnCopyToClipboard();
    void UpdateOutput();
    CodeSeparator ChosenSeparator() const;

    QHash<int, QWidget*> m_items;
    QPlainTextEdit* m_editText = nullptr;
    QCheckBox* m_chkWholeCommand = nullptr;
    QComboBox* m_comboFont = nullptr;
    QPlainTextEdit* m_editOutput = nullptr;
};
