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

    // Opens `file` in its associated program. `parameters` are quoted unless they already hold a
    // quote or `noQuote` is set; the desktop opener takes no arguments, so they only matter to
    // callers that log what was asked. The result is not reported, as the callers ignore it.
    static void ShellOpen(const QString& file, const QString& parameters, int showCommand,
                          bool noQuote);
};
