#include "support/IntFormat.h"

#include <stdexcept>
#include <string>

QByteArray FormatInt(long value, int radix, int width)
{
    if (radix < 2 || radix > 36)
        throw std::invalid_argument("FormatInt: radix " + std::to_string(radix) +
                                    " is outside 2..36");

    // Negating in unsigned arithmetic keeps the magnitude of LONG_MIN, which no long can hold.
    const unsigned long magnitude =
        value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    QByteArray text = QByteArray::number(magnitude, radix).toUpper();

    // Only -1 is ever passed for "no padding"; any other negative width is read the same way
    // rather than producing an empty number.
    if (width >= 0)
        text = (QByteArray(10, '0') + text).right(width);

    if (radix == 10 && value < 0)
        text.prepend('-');
    return text;
}

QByteArray FormatColor(quint32 rgb)
{
    return "&H" + FormatInt(static_cast<long>(rgb & 0xFFFFFFu), 16, 6);
}
