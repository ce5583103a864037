#include "support/CodePage.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <optional>

namespace {

// One conversion descriptor per call: iconv state is not shareable across threads, and opening
// one is cheap next to the texts converted here.
class Iconv
{
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [in, in + inLeft) as it can into `out`, appending. Stops at the first
    // sequence it cannot convert and returns that errno (EILSEQ or EINVAL), or 0 when all input
    // was consumed.
    int Convert(const char*& in, std::size_t& inLeft, QByteArray& out)
    {
        char buffer[4096];
        while (inLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t done = iconv(m_cd, const_cast<char**>(&in), &inLeft, &dst, &dstLeft);
            const int error = done == static_cast<std::size_t>(-1) ? errno : 0;
            out.append(buffer, dst - buffer);
            if (error == E2BIG)
                continue;
            if (error != 0)
                return error;
        }
        return 0;
    }

    // Converts all of [in, in + length) into `out`, or leaves `out` as it was and says false.
    bool ConvertWhole(const unsigned char* in, std::size_t length, QByteArray& out)
    {
        const qsizetype before = out.size();
        const char* from = reinterpret_cast<const char*>(in);
        if (Convert(from, length, out) == 0)
            return true;
        out.truncate(before);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return false;
    }

private:
    iconv_t m_cd;
};

// Bytes in the code-page-949 character that starts at `p`: a lead byte takes the byte after it
// when that can be a second byte; anything else stands alone.
std::size_t Cp949CharacterLength(const unsigned char* p, std::size_t left)
{
    if (p[0] < 0x81 || p[0] == 0xFF || left < 2)
        return 1;
    const unsigned char second = p[1];
    const bool trail = (second >= 0x41 && second <= 0x5A) || (second >= 0x61 && second <= 0x7A) ||
                       (second >= 0x81 && second <= 0xFE);
    return trail ? 2 : 1;
}

// Length of the UTF-8 sequence whose lead byte is `lead`; a stray byte counts as one.
int Utf8SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// glibc drops the Unicode tag characters (U+E0000 to U+E007F) without a word where a code page
// lacks them, instead of refusing them; they become the "?" every other such character becomes.
QString WithoutTagCharacters(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            if (c >= 0xE0000 && c <= 0xE007F) {
                if (out.isNull())
                    out = text.first(i);
                out += u'?';
                ++i;
                continue;
            }
        }
        if (!out.isNull())
            out += text[i];
    }
    return out.isNull() ? text : out;
}

} // namespace

QByteArray ToCp949(const QString& text)
{
    // toUtf8() already turns a lone surrogate into one replacement character, so every
    // character of `text` is one complete UTF-8 sequence here.
    const QByteArray utf8 = WithoutTagCharacters(text).toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    Iconv cd("CP949", "UTF-8");
    if (!cd.IsOpen()) {
        // Without the converter only ASCII can be vouched for.
        for (qsizetype i = 0; i < utf8.size();) {
            const auto lead = static_cast<unsigned char>(utf8[i]);
            out.append(lead < 0x80 ? static_cast<char>(lead) : '?');
            i += Utf8SequenceLength(lead);
        }
        return out;
    }
    // glibc notices an unmappable character only after taking all the input it was given into
    // its internal form, and then redoes that work to find the character; feeding it short
    // windows keeps a text full of unmappable characters from costing time per character in
    // proportion to its whole length.
    constexpr qsizetype kWindow = 64;
    qsizetype pos = 0;
    while (pos < utf8.size()) {
        qsizetype windowEnd = std::min(pos + kWindow, utf8.size());
        while (windowEnd < utf8.size() &&
               (static_cast<unsigned char>(utf8[windowEnd]) & 0xC0) == 0x80)
            --windowEnd; // never split a character between two windows
        const char* in = utf8.constData() + pos;
        std::size_t inLeft = static_cast<std::size_t>(windowEnd - pos);
        if (cd.Convert(in, inLeft, out) != 0) {
            out.append('?');
            in +=
                std::min<std::size_t>(Utf8SequenceLength(static_cast<unsigned char>(*in)), inLeft);
        }
        pos = in - utf8.constData();
    }
    return out;
}

namespace {

// Whether ToCp949 keeps the character `c` (above ASCII) rather than sending "?" for it.
bool Cp949Holds(Iconv& cd, char32_t c, QByteArray& scratch)
{
    // Tag characters: see WithoutTagCharacters. Surrogates alone are no characters.
    if (!cd.IsOpen() || (c >= 0xE0000 && c <= 0xE007F) || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
    scratch.clear();
    return cd.ConvertWhole(reinterpret_cast<const unsigned char*>(utf8.constData()),
                           static_cast<std::size_t>(utf8.size()), scratch) &&
           !scratch.isEmpty();
}

} // namespace

QList<char32_t> CharactersCp949Lacks(QStringView text)
{
    QList<char32_t> lacking;
    QSet<char32_t> seen;
    std::optional<Iconv> cd; // most statements are ASCII and need none
    QByteArray scratch;
    // One conversion per distinct character: a long Korean text repeats a few thousand of them.
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x80 || seen.contains(c))
            continue;
        seen.insert(c);
        if (!cd)
            cd.emplace("CP949", "UTF-8");
        if (!Cp949Holds(*cd, c, scratch))
            lacking.append(c);
    }
    return lacking;
}

qsizetype FirstCharacterNotInCp949(QStringView text)
{
    std::optional<Iconv> cd;
    QByteArray scratch;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() < 0x80)
            continue;
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(c, text[i + 1]) : c.unicode();
        if (!cd)
            cd.emplace("CP949", "UTF-8");
        if (!Cp949Holds(*cd, code, scratch))
            return i;
        i += pair ? 1 : 0;
    }
    return -1;
}

QString FromCp949(QByteArrayView bytes)
{
    QByteArray utf8;
    utf8.reserve(bytes.size() + bytes.size() / 2);
    Iconv cd("UTF-8", "CP949");
    if (!cd.IsOpen()) {
        for (const char c : bytes)
            utf8.append(static_cast<unsigned char>(c) < 0x80 ? QByteArrayView(&c, 1)
                                                             : QByteArrayView("\xEF\xBF\xBD"));
        return QString::fromUtf8(utf8);
    }
    // Where glibc rejects a sequence it does not always stop in front of it: some unmapped pairs
    // it steps past, to the end of the input when they are last. So the text goes in windows of
    // whole characters, and a window that fails is converted again one character at a time,
    // each character that fails becoming one replacement character.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto size = static_cast<std::size_t>(bytes.size());
    constexpr std::size_t kWindow = 64;
    for (std::size_t pos = 0; pos < size;) {
        std::size_t end = pos;
        while (end < size && end - pos < kWindow)
            end += Cp949CharacterLength(data + end, size - end);
        if (!cd.ConvertWhole(data + pos, end - pos, utf8)) {
            for (std::size_t at = pos; at < end;) {
                const std::size_t length = Cp949CharacterLength(data + at, end - at);
                if (!cd.ConvertWhole(data + at, length, utf8))
                    utf8.append("\xEF\xBF\xBD");
                at += length;
            }
        }
        pos = end;
    }
    return QString::fromUtf8(utf8);
}

QString DecodeStoredText(QByteArrayView bytes)
{
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : FromCp949(bytes);
}

bool DecodesStoredTextWhole(QByteArrayView bytes)
{
    return bytes.isValidUtf8() || ToCp949(FromCp949(bytes)) == bytes;
}
