#pragma once

#include "resources/DialogTemplate.h"

#include <QHash>

class QDialog;
class QWidget;

// Turns a dialog template into its controls: each one a direct child of `dialog`, at its place
// in pixels, with its caption and its id in the "ctrlId" property. Returns the controls by id
// (labels and rules, which have none, are created but not returned).
QHash<int, QWidget*> BuildDialog(QDialog* dialog, const DialogTemplate& layout);
