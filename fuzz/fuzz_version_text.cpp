// The caption's version text from any version resource text: always "a.bc" with a of one or two
// digits, and "0.00" for anything that is not four comma-separated parts.
#include "fuzz/FuzzData.h"
#include "resources/VersionText.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]{1,2}\\.[0-9]{2}$"));
    const QByteArrayView version(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = VersionText(version);
    FUZZ_CHECK(shape.match(text).hasMatch());
    if (version.count(',') != 3)
        FUZZ_CHECK(text == u"0.00");
    return 0;
}
