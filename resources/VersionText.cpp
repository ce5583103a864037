#include "resources/VersionText.h"

#include "resources/Version.h"

#include <QList>

#include <cstdlib>

QByteArrayView ProductVersion()
{
    return ORVEXA_PRODUCT_VERSION;
}

QString VersionText(QByteArrayView productVersion)
{
    const QList<QByteArray> parts = productVersion.toByteArray().split(',');
    long v = 0;
    if (parts.size() == 4) {
        // atol semantics, as the version resource was always read: leading blanks and digits.
        const long a = std::atol(parts[0].constData());
        const long b = std::atol(parts[1].constData());
        const long c = std::atol(parts[2].constData());
        v = (a % 100) * 100 + (b % 10) * 10 + (c % 10);
    }
    return QStringLiteral("%1.%2%3").arg((v / 100) % 100).arg((v / 10) % 10).arg(v % 10);
}
