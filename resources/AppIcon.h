#pragma once

#include <QIcon>

// The application icon (resource 128): a small LCD panel with a touch pen.
QIcon AppIcon();
