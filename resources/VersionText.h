#pragma once

#include <QByteArrayView>
#include <QString>

// The product version text of this build, "a, b, c, d".
QByteArrayView ProductVersion();

// The caption's version text: "a, b, c, d" becomes "a.bc" with a taken mod 100 and b, c mod 10
// ("1, 0, 3, 1" gives "1.03"); anything that is not four comma-separated parts gives "0.00".
QString VersionText(QByteArrayView productVersion);
