// Writes the application icon as a PNG of the given size, for the icon theme's fixed sizes:
// desktops that cannot scale SVG pick these, and they come from the same source as the window
// icon.
#include "resources/AppIcon.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    bool sizeOk = false;
    const int size = argc == 3 ? QByteArray(argv[1]).toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fprintf(stderr, "usage: %s <size> <file.png>\n", argv[0]);
        return 2;
    }
    const QImage image = RenderAppIcon(size);
    // A missing source renders as nothing but transparency: refuse to install a blank icon.
    bool drawn = false;
    for (int y = 0; y < size && !drawn; ++y)
        for (int x = 0; x < size && !drawn; ++x)
            drawn = qAlpha(image.pixel(x, y)) != 0;
    if (!drawn || !image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot render the icon into %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
