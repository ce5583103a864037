#include "unicode/ui/UnicodeGenDlg.h"

#include "resources/ControlIds.h"
#include "support/FileUtil.h"
#include "support/Paths.h"
#include "support/ui/DialogBuilder.h"
#include "support/ui/TransmitBox.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString kSection = QStringLiteral("gen");
const QString kFontKey = QStringLiteral("uni_font");
const QString kDefaultFont = QStringLiteral("Tahoma");

struct SeparatorChoice
{
    int id;
    CodeSeparator separator;
};

constexpr SeparatorChoice kSeparatorChoices[] = {
    {ids::kUniSpace, CodeSeparator::Space},
    {ids::kUniNoSpace, CodeSeparator::NoSpace},
    {ids::kUniComma, CodeSeparator::Comma},
    {ids::kUniHyphen, CodeSeparator::Hyphen},
};

} // namespace

CUnicodeGenDlg::CUnicodeGenDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    // The window owns itself: whoever opened it keeps no reference, and closing it is the end.
    setAttribute(Qt::WA_DeleteOnClose);
    CreateItems();
    FillFontList();
    UpdateOutput();
}

QWidget* CUnicodeGenDlg::Item(int id) const
{
    return m_items.value(id);
}

void CUnicodeGenDlg::CreateItems()
{
    m_items = BuildDialog(this, UnicodeGenTemplate());
    m_editText = qobject_cast<QPlainTextEdit*>(Item(ids::kUniText));
    m_chkWholeCommand = qobject_cast<QCheckBox*>(Item(ids::kUniWholeCommand));
    m_comboFont = qobject_cast<QComboBox*>(Item(ids::kUniFontList));
    m_editOutput = qobject_cast<QPlainTextEdit*>(Item(ids::kUniOutput));

    // Controls without a caption of their own are named after the label above or beside them.
    m_editText->setAccessibleName(QStringLiteral("Text"));
    m_comboFont->setAccessibleName(QStringLiteral("Font"));
    m_editOutput->setAccessibleName(QStringLiteral("Output"));

    // Ready to copy as a whole statement: that is what the console's transmit box takes.
    qobject_cast<QRadioButton*>(Item(ids::kUniSpace))->setChecked(true);
    m_chkWholeCommand->setChecked(true);

    connect(m_editText, &QPlainTextEdit::textChanged, this, &CUnicodeGenDlg::UpdateOutput);
    if (auto* box = qobject_cast<TransmitBox*>(m_editText))
        connect(box, &TransmitBox::Refused, this, &CUnicodeGenDlg::OnTextRefused);
    connect(m_chkWholeCommand, &QCheckBox::toggled, this, &CUnicodeGenDlg::UpdateOutput);
    // One update per choice: the button turned off reports too, and needs none.
    for (const SeparatorChoice& choice : kSeparatorChoices)
        connect(qobject_cast<QRadioButton*>(Item(choice.id)), &QRadioButton::toggled, this,
                [this](bool checked) {
                    if (checked)
                        UpdateOutput();
                });
    connect(qobject_cast<QPushButton*>(Item(ids::kUniCopy)), &QPushButton::clicked, this,
            &CUnicodeGenDlg::OnCopyToClipboard);
}

void CUnicodeGenDlg::FillFontList()
{
    const QString saved =
        CFileUtil::ReadSetting(GetSettingsFilePath(), kFontKey, kSection, kDefaultFont);
    m_comboFont->addItems(QFontDatabase::families());
    int index = m_comboFont->findText(saved, Qt::MatchFixedString);
    if (index < 0) {
        // A font saved on another machine, or since removed: the user still sees which one it
        // was, and the text shows in Qt's fallback until another is chosen.
        m_comboFont->insertItem(0, saved);
        index = 0;
    }
    m_comboFont->setCurrentIndex(index);
    OnFontChosen(m_comboFont->currentText());
    // Connected only now, so that filling the list writes nothing back: the saved name stays as
    // it is in the file until the user picks another.
    connect(m_comboFont, &QComboBox::currentTextChanged, this, [this](const QString& family) {
        OnFontChosen(family);
        // Written at once rather than at close, so a choice made in a generator still open
        // when the program ends is kept too.
        CFileUtil::WriteSetting(GetSettingsFilePath(), kFontKey, family, kSection);
    });
}

void CUnicodeGenDlg::OnFontChosen(const QString& family)
{
    QFont font = m_editText->font();
    font.setFamilies({family});
    m_editText->setFont(font);
}

void CUnicodeGenDlg::OnTextRefused(qsizetype wanted)
{
    // Not waited for: the generator stays a window of its own, and its text is as it was.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The text box holds at most %L1 characters; the "
                                               "text would have made it %L2. Nothing was inserted.")
                                    .arg(TransmitBox::kMaxCharacters)
                                    .arg(wanted),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CUnicodeGenDlg::OnCopyToClipboard()
{
    QGuiApplication::clipboard()->setText(m_editOutput->toPlainText());
}

CodeSeparator CUnicodeGenDlg::ChosenSeparator() const
{
    for (const SeparatorChoice& choice : kSeparatorChoices)
        if (qobject_cast<QRadioButton*>(Item(choice.id))->isChecked())
            return choice.separator;
    return CodeSeparator::Space;
}

void CUnicodeGenDlg::UpdateOutput()
{
    m_editOutput->setPlainText(UnicodePrintText(m_editText->toPlainText(), ChosenSeparator(),
                                                m_chkWholeCommand->isChecked()));
}
