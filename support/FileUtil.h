#pragma once

#include <QString>

#include <utility>
#include <vector>

class CFileUtil
{
public:
    // True for a folder, or for a file that can be opened for reading; a file that exists but
    // cannot be read counts as absent. Empty text gives false.
    static bool PathExists(const QString& path);

    // Creates every missing folder of the path, then the file itself, emptying it if it exists.
    static bool CreateFileWithPath(const QString& path);

    // The value of `key` in `section` of the settings file `file`, or `defaultValue`. The result
    // holds at most bufferSize - 1 characters (0 means 2000). With `hex` the stored value is the
    // hex form of the UTF-8 bytes and is decoded. With `cache` the first answer for this file, key
    // and section is kept for the rest of the run and returned again, whatever is written since.
    // A missing file is never created by a read; but reading a key with an empty default that the
    // file lacks adds it as "key=" so the user can find and fill it.
    static QString ReadSetting(const QString& file, const QString& key, const QString& section,
                               const QString& defaultValue, int bufferSize = 0, bool hex = false,
                               bool cache = false);

    // Stores `value` (hex-encoded UTF-8 with `hex`), creating the file and its folders when
    // missing. False when nothing was written: the file could not be made or written, or the
    // value, key or section would not read back as written (a line break, for one).
    static bool WriteSetting(const QString& file, const QString& key, const QString& value,
                             const QString& section, bool hex = false);

    // Stores all `values` (key, value) of `section` in one read-modify-write of the file, under
    // the lock between processes, creating the folders and the file when missing. An entry that
    // would not read back as written is left out and the others are stored. False when anything
    // was not stored, with the file and the cause for the user in `error`.
    static bool WriteSettings(const QString& file, const QString& section,
                              const std::vector<std::pair<QString, QString>>& values,
                              QString* error = nullptr);

    // Empty when the settings file `file` is missing or can be read; otherwise what keeps it
    // from being read, for the user.
    static QString SettingsReadProblem(const QString& file);
};
