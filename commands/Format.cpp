#include "commands/Format.h"

#include "commands/StatementParts.h"

using compose::DrawBelow;

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
