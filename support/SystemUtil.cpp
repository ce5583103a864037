#include "support/SystemUtil.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QUrl>

QString CSystemUtil::GetSpecialFolderPath(int folder)
{
    if (folder != kAppDataFolder)
        return {};
    // $XDG_CONFIG_HOME when set, else ~/.config; read afresh on every call so a test (or a user)
    // that moves it is followed.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

void CSystemUtil::ShellOpen(const QString& file)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}
