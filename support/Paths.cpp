#include "support/Paths.h"

#include "support/SystemUtil.h"

namespace {

QString InAppDataFolder(const QString& name)
{
    const QString folder = GetAppDataFolderPath();
    return folder.isEmpty() ? QString() : folder + u'/' + name;
}

} // namespace

QString GetAppDataFolderPath()
{
    const QString base = CSystemUtil::GetSpecialFolderPath(CSystemUtil::kAppDataFolder);
    return base.isEmpty() ? QString() : base + QStringLiteral("/OrvexaLCD TestBox");
}

QString GetSettingsFilePath()
{
    return InAppDataFolder(QStringLiteral("setting.ini"));
}

QString GetSavedTextFilePath()
{
    return InAppDataFolder(QStringLiteral("hcode.txt"));
}

QString GetPortFolderPath()
{
    return InAppDataFolder(QStringLiteral("ports"));
}
