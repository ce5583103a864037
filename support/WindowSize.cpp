#include "support/WindowSize.h"

#include <QStringList>

namespace {

// Far beyond any screen; a larger kept size is a damaged setting.
constexpr int kLargestSide = 16384;

} // namespace

QRect GrownPlace(const QRect& place, const QRect& transmit, const QRect& receive, QSize extra)
{
    const int transmitGrowth = extra.height() / 4;
    if (place == transmit)
        return place.adjusted(0, 0, extra.width(), transmitGrowth);
    if (place == receive)
        return place.adjusted(0, transmitGrowth, extra.width(), extra.height());
    if (place.top() > receive.bottom())
        return place.translated(0, extra.height());
    if (place.top() > transmit.bottom())
        return place.translated(0, transmitGrowth);
    return place;
}

QString SizeSettingText(QSize size)
{
    return QStringLiteral("%1,%2").arg(size.width()).arg(size.height());
}

std::optional<QSize> ParseSizeSetting(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const int width = parts[0].trimmed().toInt(&widthOk);
    const int height = parts[1].trimmed().toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0 || width > kLargestSide ||
        height > kLargestSide)
        return std::nullopt;
    return QSize(width, height);
}
