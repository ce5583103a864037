#pragma once

#include <QString>

// The few services of the desktop the console needs: its per-user data folder and opening a file
// in the program the desktop associates with it.
class CSystemUtil
{
public:
    // The per-user application-data folder; folder number 26 is the only one the console asks
    // for. An unknown number, or a folder the desktop cannot name, gives empty text.
    static constexpr int kAppDataFolder = 26;
    static QString GetSpecialFolderPath(int folder);

    // Opens `file` in its associated program. The desktop opener takes neither arguments nor a
    // show command, so only the file counts here; the result is not reported, as callers ignore
    // it.
    static void ShellOpen(const QString& file);
};
