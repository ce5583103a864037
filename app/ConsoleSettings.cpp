#include "app/ConsoleSettings.h"

#include "support/Decimal.h"
#include "support/FileUtil.h"
#include "support/Paths.h"
#include "support/StringUtil.h"

#include <QDir>
#include <QFile>

#include <utility>
#include <vector>

namespace {

const QString kSection = QStringLiteral("gen");
// What the settings reader returns of a value at most, its end included.
constexpr int kSettingCharacters = 2000;

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Flag(bool on)
{
    return QString::number(on ? 1 : 0);
}

} // namespace

ConsoleSettings::ConsoleSettings() : ConsoleSettings(GetSettingsFilePath(), GetSavedTextFilePath())
{}

ConsoleSettings::ConsoleSettings(QString settingsFile, QString textFile)
    : m_settingsFile(std::move(settingsFile)), m_textFile(std::move(textFile))
{}

ConsoleOptions ConsoleSettings::Load(qsizetype maxTransmitCharacters)
{
    m_readProblems.clear();
    for (const QString& file : {m_settingsFile, m_textFile}) {
        const QString problem = CFileUtil::SettingsReadProblem(file);
        if (!problem.isEmpty())
            m_readProblems.append(
                QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file), problem));
    }

    const ConsoleOptions defaults;
    auto read = [this](const char* key, const QString& defaultValue) {
        return CFileUtil::ReadSetting(m_settingsFile, QString::fromLatin1(key), kSection,
                                      defaultValue);
    };
    auto number = [&read](const char* key, int defaultValue) {
        return DecimalValue(read(key, QString::number(defaultValue)));
    };
    ConsoleOptions options;
    options.port = number("port_num", defaults.port);
    options.speedIndex = number("baudrate_index", defaults.speedIndex);
    options.randomColor = number("random_color", defaults.randomColor ? 1 : 0) != 0;
    options.randomTextPos = number("random_ltpoption", defaults.randomTextPos ? 1 : 0) != 0;
    options.printText = read("text", defaults.printText);
    options.timeStamps = number("rx_timestamps", defaults.timeStamps ? 1 : 0) != 0;

    m_loadedPort = options.port;
    m_keptPort = 0;
    // A value cut at the reader's limit, or a settings file that does not decode exactly, may
    // not hold the stored text whole.
    m_printTextLoaded = options.printText;
    m_printTextExact = options.printText.size() < kSettingCharacters - 1 &&
                       DecodesExactly(FileBytes(m_settingsFile));

    m_savedText = LoadStoredText(m_textFile, maxTransmitCharacters);
    m_transmitLoaded = m_savedText.text;
    m_transmitExact = m_savedText.exact;
    return options;
}

void ConsoleSettings::SetTransmitShown(const QString& shown)
{
    m_transmitExact = m_savedText.exact && shown == m_savedText.text;
    m_transmitLoaded = shown;
}

void ConsoleSettings::SetSavedPortListed(bool listed)
{
    m_keptPort = !listed && m_loadedPort > 0 ? m_loadedPort : 0;
}

QString ConsoleSettings::ReadProblems() const
{
    if (m_readProblems.isEmpty())
        return {};
    return QStringLiteral("The saved settings could not be read, so the console starts with its "
                          "defaults where they are missing.\n\n") +
           m_readProblems.join(u'\n');
}

QString ConsoleSettings::Save(const ConsoleOptions& options, const QString& transmitText) const
{
    const int port = m_keptPort > 0 ? m_keptPort : options.port;
    std::vector<std::pair<QString, QString>> values{
        {QStringLiteral("port_num"), QString::number(port)},
        {QStringLiteral("baudrate_index"), QString::number(options.speedIndex)},
        {QStringLiteral("random_color"), Flag(options.randomColor)},
        {QStringLiteral("random_ltpoption"), Flag(options.randomTextPos)},
    };
    if (m_printTextExact || options.printText != m_printTextLoaded)
        values.emplace_back(QStringLiteral("text"), options.printText);
    values.emplace_back(QStringLiteral("rx_timestamps"), Flag(options.timeStamps));

    QStringList failures;
    QString failure;
    if (!CFileUtil::WriteSettings(m_settingsFile, kSection, values, &failure))
        failures.append(failure);
    if ((m_transmitExact || transmitText != m_transmitLoaded) &&
        !CStringUtil::WriteTextFile(m_textFile, transmitText, false, &failure))
        failures.append(failure);
    if (failures.isEmpty())
        return {};
    return QStringLiteral("What this session changed could not be saved, and the files keep what "
                          "they held before.\n\n") +
           failures.join(u'\n');
}
