#pragma once

#include "commands/Format.h"

#include <initializer_list>

// Kept in a namespace of their own: the names are short and the library links into the console.
namespace compose {

// One fresh draw reduced to 0..bound-1 by its remainder, as rand()%bound would be.
inline int DrawBelow(RandomSource& rng, int bound)
{
    return rng.Draw() % bound;
}

inline QByteArray Decimal(long value)
{
    return FormatInt(value, 10, -1);
}

// Statement arguments are separated by "," with no blanks.
inline QByteArray DecimalList(std::initializer_list<long> values)
{
    QByteArray text;
    for (const long value : values) {
        if (!text.isEmpty())
            text += ',';
        text += Decimal(value);
    }
    return text;
}

} // namespace compose
