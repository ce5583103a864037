#include "commands/Format.h"

#include "commands/StatementParts.h"

#include <stdexcept>
#include <string>

using compose::DrawBelow;

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

quint32 RandomColor(RandomSource& rng)
{
    const auto red = static_cast<quint32>(DrawBelow(rng, 256));
    const auto green = static_cast<quint32>(DrawBelow(rng, 256));
    const auto blue = static_cast<quint32>(DrawBelow(rng, 256));
    return red << 16 | green << 8 | blue;
}

QByteArray RandomColorStatement(RandomSource& rng)
{
    return "Color " + FormatColor(RandomColor(rng)) + ';';
}

QByteArray WithRandomColor(RandomSource& rng, const QByteArray& statement, bool randomColor)
{
    if (!randomColor)
        return statement;
    return RandomColorStatement(rng) + statement;
}
