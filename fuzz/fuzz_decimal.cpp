// The decimal parse against the C library's strtol, clamped to int, on any text: the console's
// port numbers and settings depend on the two agreeing.
#include "fuzz/FuzzData.h"
#include "support/Decimal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const QString text = FuzzText(input.Rest(), input.Mode() & 1);
    const int value = DecimalValue(text);

    // strtol reads bytes, so it gets the text up to its first character beyond ASCII (or NUL);
    // that character is no digit and no blank, so the console's parse stops there as well.
    const qsizetype wide = std::find_if(text.cbegin(), text.cend(),
                                        [](QChar c) { return c.unicode() > 0x7F || c == u'\0'; }) -
                           text.cbegin();
    const QByteArray narrow = text.first(wide).toLatin1();
    const long expected = std::strtol(narrow.constData(), nullptr, 10);
    FUZZ_CHECK(value == static_cast<int>(std::clamp<long>(expected, INT_MIN, INT_MAX)));
    return 0;
}
