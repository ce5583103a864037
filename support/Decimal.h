#pragma once

#include <QStringView>

// The C library's decimal conversion as the console has always applied it to settings and port
// names: leading blanks, an optional sign, then digits; 0 when there are none. Values beyond the
// range of int are clamped instead of overflowing, so "99999999999" cannot wrap to a valid port.
int DecimalValue(QStringView text);
