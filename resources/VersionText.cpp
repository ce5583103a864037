#include "resources/VersionText.h"

#include "resources/Version.h"

#include <QList>

#include <cstdlib>

QByteArrayView ProductVersion()
{
    return ORVEXA_PRODUCT_VERSION;
}

namespace {

// atol semantics, as the version resource was always read: leading blanks, a sign and digits;
// through strtol, so a part beyond the range of long is clamped instead of undefined.
long Part(const QByteArray& part)
{
    return std::strtol(part.constData(), nullptr, 10);
}

// The remainder in 0..m-1, so a negative part still gives a digit and not "-5" in the caption.
long Mod(long value, long m)
{
    return (value % m + m) % m;
}

} // namespace

QString VersionText(QByteArrayView productVersion)
{
    const QList<QByteArray> parts = productVersion.toByteArray().split(',');
    long v = 0;
    if (parts.size() == 4)
        v = Mod(Part(parts[0]), 100) * 100 + Mod(Part(parts[1]), 10) * 10 + Mod(Part(parts[2]), 10);
    return QStringLiteral("%1.%2%3").arg((v / 100) % 100).arg((v / 10) % 10).arg(v % 10);
}
