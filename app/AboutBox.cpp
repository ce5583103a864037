#include "app/AboutBox.h"

#include "support/ui/DialogBuilder.h"
#include "resources/ControlIds.h"

#include <QPushButton>

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    const QHash<int, QWidget*> items = BuildDialog(this, AboutTemplate());
    auto* ok = qobject_cast<QPushButton*>(items.value(ids::kAboutOk));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
