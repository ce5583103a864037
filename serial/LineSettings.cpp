#include "serial/LineSettings.h"

#include <QStringList>

#include <limits>

namespace {

std::optional<LineSettings::Parity> ParseParity(const QString& field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field.at(0).toLower().unicode()) {
    case 'n':
        return LineSettings::Parity::None;
    case 'e':
        return LineSettings::Parity::Even;
    case 'o':
        return LineSettings::Parity::Odd;
    case 'm':
        return LineSettings::Parity::Mark;
    case 's':
        return LineSettings::Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<LineSettings::StopBits> ParseStopBits(const QString& field)
{
    if (field == u"1")
        return LineSettings::StopBits::One;
    if (field == u"1.5")
        return LineSettings::StopBits::OneAndHalf;
    if (field == u"2")
        return LineSettings::StopBits::Two;
    return std::nullopt;
}

bool IsDecimal(const QString& field)
{
    if (field.isEmpty())
        return false;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

} // namespace

std::optional<LineSettings> ParseLineSettings(const QString& text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    const QString speedText = fields[0].trimmed();
    const QString dataBitsText = fields[2].trimmed();
    // Signs, blanks inside and hex prefixes are all refused: only plain digits name a speed.
    if (!IsDecimal(speedText) || !IsDecimal(dataBitsText))
        return std::nullopt;

    bool ok = false;
    const qlonglong speed = speedText.toLongLong(&ok);
    if (!ok || speed <= 0 || speed > std::numeric_limits<int>::max())
        return std::nullopt;
    const int dataBits = dataBitsText.toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return std::nullopt;

    const auto parity = ParseParity(fields[1].trimmed());
    const auto stopBits = ParseStopBits(fields[3].trimmed());
    if (!parity || !stopBits)
        return std::nullopt;

    LineSettings settings;
    settings.speed = static_cast<int>(speed);
    settings.parity = *parity;
    settings.dataBits = dataBits;
    settings.stopBits = *stopBits;
    return settings;
}
