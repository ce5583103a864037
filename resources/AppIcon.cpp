#include "resources/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap Paint(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.scale(s, s);
    // Bezel, then the green-grey glass, then a line of "text" and the pen's tip on the glass.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x34, 0x3c));
    p.drawRoundedRect(QRectF(1, 4, 30, 24), 3, 3);
    p.setBrush(QColor(0x9c, 0xc8, 0x8a));
    p.drawRect(QRectF(4, 7, 24, 18));
    p.setBrush(QColor(0x20, 0x40, 0x20));
    p.drawRect(QRectF(6, 10, 14, 2));
    p.drawRect(QRectF(6, 14, 10, 2));
    p.setPen(QPen(QColor(0xe0, 0x50, 0x30), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(29, 30), QPointF(21, 20));
    return pixmap;
}

} // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(Paint(size));
    return icon;
}
