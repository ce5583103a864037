// The kept window size, read from a settings file anyone may edit: any text either is no size or
// a size within the bounds that reads back the same once written.
#include "fuzz/FuzzData.h"
#include "support/WindowSize.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const QString text = FuzzText(input.Rest(), input.Mode() & 1);
    const auto parsed = ParseSizeSetting(text);
    if (!parsed)
        return 0;
    FUZZ_CHECK(parsed->width() >= 1 && parsed->width() <= 16384);
    FUZZ_CHECK(parsed->height() >= 1 && parsed->height() <= 16384);
    FUZZ_CHECK(ParseSizeSetting(SizeSettingText(*parsed)) == parsed);
    return 0;
}
