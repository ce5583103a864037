// The settings file reader and writer on any file content and any names: reading never fails,
// and a value the writer accepts reads back as written (less the blanks around it, which the
// format ignores), leaving the other entries as they read before.
#include "fuzz/FuzzData.h"
#include "support/ProfileString.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> folder;

constexpr int kBuffer = 1 << 20;

// The file format ignores blanks around a value, as the Windows profile functions do.
QString Unpadded(const QString& value)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; };
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && blank(value[begin]))
        ++begin;
    while (end > begin && blank(value[end - 1]))
        --end;
    return value.sliced(begin, end - begin);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Kept on tmpfs where there is one: every input writes the file twice.
    const QString base = QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/fuzz_profile-XXXXXX")
                                                   : QDir::tempPath() + "/fuzz_profile-XXXXXX";
    folder = std::make_unique<QTemporaryDir>(base);
    return folder->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const bool utf16 = input.Mode() & 1;
    const char separator = utf16 ? '\xFF' : '\0';
    const QString section = FuzzText(input.Field(separator), utf16);
    const QString key = FuzzText(input.Field(separator), utf16);
    const QString value = FuzzText(input.Field(separator), utf16);
    const QString otherKey = FuzzText(input.Field(separator), utf16);
    const QByteArrayView content = input.Rest();

    const QString file = folder->filePath(QStringLiteral("setting.ini"));
    {
        QFile out(file);
        FUZZ_CHECK(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(out.write(content.data(), content.size()) == content.size());
    }
    const QString absent = QStringLiteral("\x01absent");
    const QString otherBefore = GetPrivateProfileString(section, otherKey, absent, kBuffer, file);
    GetPrivateProfileString(section, key, QString(), kBuffer, file);

    const bool accepted = WritePrivateProfileString(section, key, value, file);
    FUZZ_CHECK(accepted == CanWriteProfileEntry(section, key, value));
    if (!accepted) {
        FUZZ_CHECK(QFile(file).size() == content.size());
        return 0;
    }
    FUZZ_CHECK(GetPrivateProfileString(section, key, absent, kBuffer, file) == Unpadded(value));
    if (key.trimmed().compare(otherKey.trimmed(), Qt::CaseInsensitive) != 0)
        FUZZ_CHECK(GetPrivateProfileString(section, otherKey, absent, kBuffer, file) ==
                   otherBefore);
    return 0;
}
