#pragma once

#include <QRect>
#include <QString>

#include <optional>

// Where a control of the console goes when the window is `extra` larger than its template:
// the transmit box takes a quarter of the extra height and the receive view the rest, both take
// the extra width, and every other control keeps its size and its distance to the top of the
// window or of the box above it. All rectangles are the template's, in pixels.
QRect GrownPlace(const QRect& place, const QRect& transmit, const QRect& receive, QSize extra);

// The window size as kept in the settings: "width,height" in pixels. A text that is not two
// whole numbers from 1 to 16384 (blanks around each allowed) is no size.
QString SizeSettingText(QSize size);
std::optional<QSize> ParseSizeSetting(const QString& text);
