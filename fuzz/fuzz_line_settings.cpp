// The line-settings text: any text parses or is refused, and what parses is in range and
// written back in the settings form parses to the same settings.
#include "fuzz/FuzzData.h"
#include "serial/LineSettings.h"

namespace {

QString SettingsText(const LineSettings& s)
{
    static const char parity[] = "neoms";
    static const char* const stopBits[] = {"1", "1.5", "2"};
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.speed)
        .arg(QLatin1Char(parity[static_cast<int>(s.parity)]))
        .arg(s.dataBits)
        .arg(stopBits[static_cast<int>(s.stopBits)]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const QString text = FuzzText(input.Rest(), input.Mode() & 1);
    const std::optional<LineSettings> settings = ParseLineSettings(text);
    if (!settings)
        return 0;
    FUZZ_CHECK(text.count(u',') == 3);
    FUZZ_CHECK(settings->speed > 0);
    FUZZ_CHECK(settings->dataBits >= 5 && settings->dataBits <= 8);
    const std::optional<LineSettings> again = ParseLineSettings(SettingsText(*settings));
    FUZZ_CHECK(again && again->speed == settings->speed && again->parity == settings->parity &&
               again->dataBits == settings->dataBits && again->stopBits == settings->stopBits);
    return 0;
}
