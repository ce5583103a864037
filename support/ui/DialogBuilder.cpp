#include "support/ui/DialogBuilder.h"

#include "resources/AppIcon.h"
#include "support/ui/ReceiveView.h"
#include "support/ui/TransmitBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QWidget* CreateItem(QDialog* dialog, const DialogItem& item, const DialogBaseUnits& base)
{
    const QString caption = QString::fromUtf8(item.caption);
    switch (item.kind) {
    case ItemKind::PushButton: {
        auto* button = new QPushButton(caption, dialog);
        // No button is the dialog's default: Enter must not press anything.
        button->setAutoDefault(false);
        return button;
    }
    case ItemKind::CheckBox:
        return new QCheckBox(caption, dialog);
    case ItemKind::RadioButton:
        return new QRadioButton(caption, dialog);
    case ItemKind::DropDownList: {
        auto* list = new QComboBox(dialog);
        list->setMaxVisibleItems(qMax(1, item.units.height() / 10));
        return list;
    }
    case ItemKind::LineEdit:
        return new QLineEdit(caption, dialog);
    case ItemKind::MultiLineEdit: {
        auto* edit = new TransmitBox(caption, dialog);
        edit->setTabChangesFocus(true);
        return edit;
    }
    case ItemKind::ReadOnlyText: {
        auto* text = new QPlainTextEdit(caption, dialog);
        text->setReadOnly(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        text->setTabChangesFocus(true);
        return text;
    }
    case ItemKind::ReceiveView:
        return new ReceiveView(dialog);
    case ItemKind::Label:
        return new QLabel(caption, dialog);
    case ItemKind::HorizontalRule: {
        auto* rule = new QFrame(dialog);
        rule->setFrameShape(QFrame::HLine);
        rule->setFrameShadow(QFrame::Sunken);
        return rule;
    }
    case ItemKind::Icon: {
        auto* label = new QLabel(dialog);
        const QSize size = base.ToPixels(item.units).size();
        label->setPixmap(AppIcon().pixmap(qMin(size.width(), size.height())));
        return label;
    }
    }
    return nullptr;
}

} // namespace

QHash<int, QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& layout)
{
    QFont font;
    font.setFamilies({QString::fromUtf8(layout.fontFamily), QStringLiteral("Gulim"),
                      QStringLiteral("NanumGothic"), QStringLiteral("Noto Sans CJK KR")});
    font.setPointSize(layout.fontPointSize);
    dialog->setFont(font);
    // Captions are laid out for the narrow margins of the original push buttons.
    dialog->setStyleSheet(QStringLiteral("QPushButton { padding: 1px 2px; }"));
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const auto base =
        DialogBaseUnits::ForAverageLetterWidth((metrics.horizontalAdvance(letters) / 26 + 1) / 2);
    dialog->setWindowTitle(QString::fromUtf8(layout.caption));
    dialog->setFixedSize(base.ToPixels(layout.units));

    QHash<int, QWidget*> items;
    for (const DialogItem& item : layout.items) {
        QWidget* widget = CreateItem(dialog, item, base);
        QRect place = base.ToPixels(item.units);
        // A drop-down list's height in the template is that of its open list.
        if (item.kind == ItemKind::DropDownList)
            place.setHeight(widget->sizeHint().height());
        widget->setGeometry(place);
        widget->setVisible(!item.hidden);
        if (item.id != -1) {
            widget->setProperty("ctrlId", item.id);
            widget->setObjectName(QStringLiteral("ctrl%1").arg(item.id));
            items.insert(item.id, widget);
        }
    }
    return items;
}
