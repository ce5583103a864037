#include "module/SamplePictures.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>

namespace {

QImage NumberedPicture(int number)
{
    // Hues a golden angle apart, so neighbouring numbers never look alike.
    const QColor base = QColor::fromHsv((number * 137) % 360, 160, 230);
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(base);
    QPainter painter(&picture);
    painter.setPen(QPen(base.darker(200), 6));
    painter.drawRect(picture.rect().adjusted(3, 3, -3, -3));
    for (int i = 0; i < number; ++i)
        painter.fillRect(16 + i * 20, 206, 14, 14, base.darker(200));
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(140);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(picture.rect().adjusted(0, 0, 0, -30), Qt::AlignCenter,
                     QString::number(number));
    return picture;
}

QImage SamplePicture()
{
    QImage picture(240, 160, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient sky(0, 0, 240, 160);
    sky.setColorAt(0, QColor(20, 60, 160));
    sky.setColorAt(1, QColor(240, 200, 80));
    painter.fillRect(picture.rect(), sky);
    painter.setBrush(QColor(250, 250, 250));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(180, 50), 24, 24);
    painter.setBrush(QColor(30, 110, 50));
    painter.drawPolygon(QPolygon({{0, 160}, {70, 70}, {140, 160}}));
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(18);
    painter.setFont(font);
    painter.drawText(QRect(8, 6, 200, 24), Qt::AlignLeft, QStringLiteral("sample"));
    return picture;
}

bool SaveIfMissing(const QDir& folder, const QString& name, const QImage& picture)
{
    const QString path = folder.filePath(name);
    return QFile::exists(path) || picture.save(path, "BMP");
}

} // namespace

bool CreateSamplePictures(const QString& folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    const QDir dir(folder);
    bool saved = SaveIfMissing(dir, QStringLiteral("taldern_sample.bmp"), SamplePicture());
    for (int number = 1; number <= 14; ++number)
        saved = SaveIfMissing(dir, QStringLiteral("%1.bmp").arg(number), NumberedPicture(number)) &&
                saved;
    return saved;
}

QString ModuleStorageFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/OrvexaLCD Module");
}
