#include "resources/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QImage RenderAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // The same SVG is installed into the icon theme, so the menu and the window show one picture.
    QSvgRenderer svg(QStringLiteral(":/icons/com.taldern.OrvexaTestBox.svg"));
    QPainter p(&image);
    svg.render(&p);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(RenderAppIcon(size)));
    return icon;
}
