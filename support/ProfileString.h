#pragma once

#include <QString>

#include <vector>

// INI-file access with the semantics the Windows profile-string functions give, so that a
// settings file moved over from a Windows installation reads as it did there:
// - section and key names match regardless of case; blanks around names and values are ignored;
// - only the first of two equal sections counts, and in it the first of two equal keys;
// - lines end in CRLF, LF or a lone CR; a line without "=" is not a key;
// - the file is UTF-8, or CP949 when it is not valid UTF-8.
// No state is kept between calls: every call reads the file afresh.

// The value of `key` in `section`, or `defaultValue` (without its trailing blanks) when the file,
// the section or the key is missing. The result holds at most bufferSize - 1 characters, as the
// caller's buffer would; a bufferSize below 1 gives empty text.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferSize, const QString& file);

// Sets `key` in `section` to `value`, keeping every other line of the file as it was: an existing
// key has its value replaced in place, a new key goes after the last entry of its section, a new
// section goes at the end. The file is created when missing (its folder is not). A file that
// decodes exactly is written whole in UTF-8 (a UTF-8 mark at its start kept); one that does not
// (bytes valid in neither UTF-8 nor code page 949) keeps the bytes of its unchanged lines and gets
// the changed ones in its own code page, unless it would then read another way, when it too is
// written whole in UTF-8. The new content replaces the old one atomically, so on any failure the
// previous file stays whole. Returns false, writing nothing, when the file cannot be read or
// written, or when the entry could not be read back as written: a line break or a lone surrogate
// in section, key or value, a key holding "=" or starting with "[".
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file);

struct ProfileEntry
{
    QString key;
    QString value;
};

// Sets every entry of `section` as WritePrivateProfileString would, in one read and one replace
// of the file, so a reader never sees half of them and a failure stores none. Read and replace
// happen under a lock between processes (see FolderLock): two programs writing the same file at
// once each keep what the other wrote. False, with the reason in `error`, when the file cannot be
// read or written or an entry would not read back as written.
bool WritePrivateProfileStrings(const QString& section, const std::vector<ProfileEntry>& entries,
                                const QString& file, QString* error = nullptr);

// Whether WritePrivateProfileString would accept this entry, for callers that must decide before
// they create the file.
bool CanWriteProfileEntry(const QString& section, const QString& key, const QString& value);
