#pragma once

#include <QIcon>
#include <QImage>

// The application icon (resource 128): a small LCD panel with a touch pen.
QIcon AppIcon();

// The icon drawn at size × size pixels from its one SVG source; transparent if that source is
// missing from the program.
QImage RenderAppIcon(int size);
