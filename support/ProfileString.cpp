#include "support/ProfileString.h"

#include "support/CodePage.h"
#include "support/FileReplace.h"

#include <QFile>
#include <QFileInfo>
#include <QStringView>

#include <optional>
#include <vector>

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f';
}

QStringView TrimBlanks(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.sliced(begin, end - begin);
}

bool SameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// One line of the file as offsets into its text: content is [start, end), and the line end
// (CRLF, LF or CR, absent on a last line without one) runs up to next.
struct Line
{
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype next = 0;

    bool HasLineEnd() const { return next > end; }
};

class LineReader
{
public:
    explicit LineReader(QStringView text) : m_text(text) {}

    bool Next(Line& line)
    {
        const qsizetype size = m_text.size();
        if (m_pos >= size)
            return false;
        qsizetype i = m_pos;
        while (i < size && m_text[i] != u'\n' && m_text[i] != u'\r')
            ++i;
        line.start = m_pos;
        line.end = i;
        if (i < size)
            i += (m_text[i] == u'\r' && i + 1 < size && m_text[i + 1] == u'\n') ? 2 : 1;
        line.next = i;
        m_pos = i;
        return true;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// What a line means to the profile functions. A header is "[" ... "]" (the last "]", so a name
// may hold one); an entry has its name before the first "="; anything else is neither and is
// kept untouched.
struct ParsedLine
{
    enum class Kind
    {
        Other,
        Section,
        Entry
    } kind = Kind::Other;
    QStringView name;
    qsizetype valueStart = 0; // offsets into the whole text, entries only
    qsizetype valueEnd = 0;
};

ParsedLine Parse(QStringView text, const Line& line)
{
    ParsedLine parsed;
    const QStringView content = text.sliced(line.start, line.end - line.start);
    const QStringView trimmed = TrimBlanks(content);
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.lastIndexOf(u']');
        if (close > 0) {
            parsed.kind = ParsedLine::Kind::Section;
            parsed.name = TrimBlanks(trimmed.sliced(1, close - 1));
            return parsed;
        }
    }
    const qsizetype equals = content.indexOf(u'=');
    if (equals < 0)
        return parsed;
    parsed.kind = ParsedLine::Kind::Entry;
    parsed.name = TrimBlanks(content.first(equals));
    qsizetype valueStart = line.start + equals + 1;
    qsizetype valueEnd = line.end;
    while (valueStart < valueEnd && IsBlank(text[valueStart]))
        ++valueStart;
    while (valueEnd > valueStart && IsBlank(text[valueEnd - 1]))
        --valueEnd;
    parsed.valueStart = valueStart;
    parsed.valueEnd = valueEnd;
    return parsed;
}

// Where an entry of the first section named `section` is, or where a new one would go.
struct EntrySearch
{
    bool sectionFound = false;
    std::optional<ParsedLine> entry;
    // After the section's last non-blank line, and whether that line has a line end of its own.
    qsizetype insertAt = 0;
    bool insertAfterLineEnd = true;
};

EntrySearch FindEntry(QStringView text, QStringView section, QStringView key)
{
    EntrySearch search;
    LineReader reader(text);
    Line line;
    while (reader.Next(line)) {
        const ParsedLine parsed = Parse(text, line);
        if (parsed.kind == ParsedLine::Kind::Section) {
            if (search.sectionFound)
                break; // only the first section of that name counts
            if (SameName(parsed.name, section)) {
                search.sectionFound = true;
                search.insertAt = line.next;
                search.insertAfterLineEnd = line.HasLineEnd();
            }
            continue;
        }
        if (!search.sectionFound)
            continue;
        if (parsed.kind == ParsedLine::Kind::Entry && SameName(parsed.name, key)) {
            search.entry = parsed;
            break;
        }
        if (!TrimBlanks(text.sliced(line.start, line.end - line.start)).isEmpty()) {
            search.insertAt = line.next;
            search.insertAfterLineEnd = line.HasLineEnd();
        }
    }
    return search;
}

// The file's bytes; empty when it does not exist; nothing when it exists but cannot be read as a
// plain file (a folder, a device, no permission), with the reason in `error`.
std::optional<QByteArray> ReadProfileFile(const QString& file, QString* error = nullptr)
{
    const QFileInfo info(file);
    if (!info.exists())
        return QByteArray();
    if (!info.isFile()) {
        if (error)
            *error = info.isDir() ? QStringLiteral("it is a folder")
                                  : QStringLiteral("it is not a regular file");
        return std::nullopt;
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = in.errorString();
        return std::nullopt;
    }
    QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        if (error)
            *error = in.errorString();
        return std::nullopt;
    }
    return bytes;
}

struct ProfileText
{
    QString text;
    bool bom = false;
};

ProfileText Decode(QByteArrayView bytes)
{
    ProfileText decoded;
    decoded.bom = bytes.startsWith(kUtf8Bom);
    decoded.text = DecodeStoredText(decoded.bom ? bytes.sliced(kUtf8Bom.size()) : bytes);
    return decoded;
}

// New lines follow the file's own line ends, so a file from the Windows program stays CRLF.
QString LineEndOf(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n')
            return QStringLiteral("\n");
        if (text[i] == u'\r')
            return (i + 1 < text.size() && text[i + 1] == u'\n') ? QStringLiteral("\r\n")
                                                                 : QStringLiteral("\r");
    }
    return QStringLiteral("\n");
}

bool HoldsLineBreak(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

QString CutToCharacters(const QString& s, qsizetype count)
{
    qsizetype i = 0;
    for (qsizetype n = 0; n < count && i < s.size(); ++n)
        i += (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ? 2 : 1;
    return s.first(i);
}

// The lines of `text`, each with its line end: "\r\n", "\n" or a lone "\r".
template <typename Text> std::vector<Text> SplitLines(Text text)
{
    std::vector<Text> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool cr = text[i] == '\r';
        if (!cr && text[i] != '\n')
            continue;
        if (cr && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.push_back(text.sliced(start, i + 1 - start));
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.sliced(start));
    return lines;
}

// A file that does not decode exactly (bytes valid in neither UTF-8 nor code page 949) keeps the
// bytes of every line the write does not change; only the changed lines are written anew, in the
// file's own code page. Decoding keeps every line end, so the file's byte lines and its text lines
// match one to one. Nothing when the result would not read back as `changed`: a changed line the
// code page cannot hold, or, since the file is decoded whole, changed lines that make the kept
// ones read another way (with its one odd byte gone, a file is valid UTF-8 and its code-page
// lines mean something else).
std::optional<QByteArray> SpliceChangedLines(const QByteArray& before, const QString& original,
                                             const QString& changed)
{
    const std::vector<QByteArrayView> bytes = SplitLines(QByteArrayView(before));
    const std::vector<QStringView> oldLines = SplitLines(QStringView(original));
    const std::vector<QStringView> newLines = SplitLines(QStringView(changed));
    if (bytes.size() != oldLines.size())
        return std::nullopt;
    std::size_t same = 0;
    while (same < oldLines.size() && same < newLines.size() && oldLines[same] == newLines[same])
        ++same;
    std::size_t sameAtEnd = 0;
    while (sameAtEnd < oldLines.size() - same && sameAtEnd < newLines.size() - same &&
           oldLines[oldLines.size() - 1 - sameAtEnd] == newLines[newLines.size() - 1 - sameAtEnd])
        ++sameAtEnd;
    QByteArray after;
    for (std::size_t i = 0; i < same; ++i)
        after += bytes[i];
    for (std::size_t i = same; i < newLines.size() - sameAtEnd; ++i)
        after += ToCp949(newLines[i].toString());
    for (std::size_t i = bytes.size() - sameAtEnd; i < bytes.size(); ++i)
        after += bytes[i];
    if (DecodeStoredText(after) != changed)
        return std::nullopt;
    return after;
}

} // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferSize, const QString& file)
{
    if (bufferSize < 1)
        return {};
    QString value;
    const std::optional<QByteArray> bytes = ReadProfileFile(file);
    const ProfileText decoded = bytes ? Decode(*bytes) : ProfileText();
    const EntrySearch search = FindEntry(decoded.text, TrimBlanks(section), TrimBlanks(key));
    if (search.entry) {
        value = decoded.text.sliced(search.entry->valueStart,
                                    search.entry->valueEnd - search.entry->valueStart);
    } else {
        qsizetype end = defaultValue.size();
        while (end > 0 && IsBlank(defaultValue[end - 1]))
            --end;
        value = defaultValue.first(end);
    }
    return CutToCharacters(value, bufferSize - 1);
}

// An entry that would not read back as written is refused rather than stored: a line break
// splits it and corrupts every later read, "=" in a key moves the split, a key starting
// with "[" reads as a section header, and a lone surrogate would be written as U+FFFD.
bool CanWriteProfileEntry(const QString& section, const QString& key, const QString& value)
{
    if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value))
        return false;
    if (!section.isValidUtf16() || !key.isValidUtf16() || !value.isValidUtf16())
        return false;
    const QStringView name = TrimBlanks(key);
    return !name.contains(u'=') && !name.startsWith(u'[');
}

namespace {

// Sets one entry in the decoded text, as WritePrivateProfileString describes.
void SetEntry(QString& text, QStringView sectionName, QStringView keyName, const QString& value)
{
    const EntrySearch search = FindEntry(text, sectionName, keyName);
    const QString lineEnd = LineEndOf(text);
    const QString entryLine = keyName.toString() + u'=' + value;
    if (search.entry) {
        text.replace(search.entry->valueStart, search.entry->valueEnd - search.entry->valueStart,
                     value);
    } else if (search.sectionFound) {
        text.insert(search.insertAt,
                    search.insertAfterLineEnd ? entryLine + lineEnd : lineEnd + entryLine);
    } else {
        if (!text.isEmpty() && !text.endsWith(u'\n') && !text.endsWith(u'\r'))
            text += lineEnd;
        text += u'[' + sectionName.toString() + u']' + lineEnd + entryLine + lineEnd;
    }
}

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file)
{
    return WritePrivateProfileStrings(section, {{key, value}}, file);
}

bool WritePrivateProfileStrings(const QString& section, const std::vector<ProfileEntry>& entries,
                                const QString& file, QString* error)
{
    if (file.isEmpty()) {
        SetError(error, QStringLiteral("no settings file"));
        return false;
    }
    for (const ProfileEntry& entry : entries) {
        if (!CanWriteProfileEntry(section, entry.key, entry.value)) {
            SetError(error, QStringLiteral("the value of \"%1\" cannot be stored").arg(entry.key));
            return false;
        }
    }
    // Held from the read to the replace: another process writing the file in between would
    // otherwise have its change overwritten by what this one read before it.
    const FolderLock lock(file);
    const std::optional<QByteArray> before = ReadProfileFile(file, error);
    if (!before)
        return false;
    ProfileText profile = Decode(*before);
    const QString original = profile.text;
    const QStringView sectionName = TrimBlanks(section);
    for (const ProfileEntry& entry : entries)
        SetEntry(profile.text, sectionName, TrimBlanks(entry.key), entry.value);
    const QString& text = profile.text;

    // A file that decodes exactly is written whole in UTF-8; one that does not keeps the bytes
    // of its other lines where the changed ones can be written in its code page and the file
    // still reads as intended, and otherwise is written whole in UTF-8 too, so that the value
    // reads back as written.
    const bool exact = profile.bom || DecodesStoredTextWhole(*before);
    std::optional<QByteArray> after;
    if (!exact)
        after = SpliceChangedLines(*before, original, text);
    if (!after) {
        after = text.toUtf8();
        if (profile.bom)
            after->prepend(kUtf8Bom.data(), kUtf8Bom.size());
    }
    if (*after == *before)
        return true; // nothing changes, so the file is left alone
    return ReplaceFileWhole(file, *after, error);
}
