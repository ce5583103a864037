#pragma once

#include <QString>

// Where the console keeps its files. Every path is built afresh on each call, never cached, so a
// changed XDG_CONFIG_HOME is followed at once. When the data folder cannot be resolved the
// paths are empty and every read falls back to its default.

// "<config folder>/OrvexaLCD TestBox"
QString GetAppDataFolderPath();
// The settings file, "setting.ini".
QString GetSettingsFilePath();
// The transmit-box file, "hcode.txt".
QString GetSavedTextFilePath();
// The port folder: entries "COM<n>" are symbolic links to serial devices.
QString GetPortFolderPath();
