#include "support/FileUtil.h"

#include "support/CodePage.h"
#include "support/ProfileString.h"
#include "support/StringUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <unistd.h>

namespace {

constexpr int kDefaultBufferSize = 2000;

// Lives until the process ends. Nothing evicts or refreshes an entry: a cached setting is meant
// to stay what it was when first read, even across writes.
struct ReadCache
{
    QMutex mutex;
    QHash<QString, QString> values;
};

ReadCache& Cache()
{
    static ReadCache cache;
    return cache;
}

QString CacheKey(const QString& file, const QString& key, const QString& section)
{
    return file + QChar(0x01) + key + QChar(0x01) + section;
}

void Remember(bool cache, const QString& cacheKey, const QString& value)
{
    if (!cache)
        return;
    ReadCache& store = Cache();
    const QMutexLocker lock(&store.mutex);
    store.values.insert(cacheKey, value);
}

QString Unhex(const QString& value)
{
    return DecodeStoredText(CStringUtil::HexDecode(value.toLatin1()));
}

} // namespace

bool CFileUtil::PathExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    // Asking rather than opening: opening a pipe for reading would block until a writer comes.
    return info.exists() && ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

bool CFileUtil::CreateFileWithPath(const QString& path)
{
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

QString CFileUtil::ReadSetting(const QString& file, const QString& key, const QString& section,
                               const QString& defaultValue, int bufferSize, bool hex, bool cache)
{
    const QString cacheKey = CacheKey(file, key, section);
    if (cache) {
        ReadCache& store = Cache();
        const QMutexLocker lock(&store.mutex);
        const auto found = store.values.constFind(cacheKey);
        if (found != store.values.constEnd())
            return *found;
    }
    // A missing key then falls back to text that decodes to the caller's default.
    const QString storedDefault =
        hex ? QString::fromLatin1(CStringUtil::HexEncode(defaultValue.toUtf8())) : defaultValue;
    if (bufferSize == 0)
        bufferSize = kDefaultBufferSize;
    if (!PathExists(file)) {
        Remember(cache, cacheKey, defaultValue);
        return defaultValue;
    }
    QString value = GetPrivateProfileString(section, key, storedDefault, bufferSize, file);
    if (value.isEmpty() && storedDefault.isEmpty() &&
        !WritePrivateProfileString(section, key, storedDefault, file)) {
        Remember(cache, cacheKey, QString());
        return {};
    }
    if (hex)
        value = Unhex(value);
    Remember(cache, cacheKey, value);
    return value;
}

bool CFileUtil::WriteSetting(const QString& file, const QString& key, const QString& value,
                             const QString& section, bool hex)
{
    const QString stored =
        hex ? QString::fromLatin1(CStringUtil::HexEncode(value.toUtf8())) : value;
    // Refuse an unwritable entry before the file is created, so a refused write leaves no trace.
    if (!CanWriteProfileEntry(section, key, stored))
        return false;
    if (!PathExists(file)) {
        // An existing file we cannot read would be emptied by creating it; leave it be.
        if (QFileInfo(file).exists() || !CreateFileWithPath(file))
            return false;
    }
    return WritePrivateProfileString(section, key, stored, file);
}

bool CFileUtil::WriteSettings(const QString& file, const QString& section,
                              const std::vector<std::pair<QString, QString>>& values,
                              QString* error)
{
    std::vector<ProfileEntry> entries;
    QStringList refused;
    for (const auto& [key, value] : values) {
        if (CanWriteProfileEntry(section, key, value))
            entries.push_back({key, value});
        else
            refused.append(key);
    }
    QString cause;
    bool stored = false;
    if (file.isEmpty())
        cause = QStringLiteral("the settings folder is not known");
    else if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        cause = QStringLiteral("its folder cannot be made");
    else
        stored = WritePrivateProfileStrings(section, entries, file, &cause);
    if (stored && refused.isEmpty())
        return true;
    if (stored)
        cause = QStringLiteral("%1 cannot be stored there").arg(refused.join(QStringLiteral(", ")));
    if (error)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file), cause);
    return false;
}

QString CFileUtil::SettingsReadProblem(const QString& file)
{
    const QFileInfo info(file);
    if (file.isEmpty() || !info.exists())
        return {};
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? QString() : in.errorString();
}
