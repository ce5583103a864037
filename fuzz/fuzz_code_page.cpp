// Code page 949 both ways: any bytes decode to some text that keeps every byte below 0x41, valid
// CP949 round-trips byte for byte, and text encodes with exactly one "?" for each character the
// code page cannot hold: the characters named as lacking, the first of them where the check for
// such characters finds it.
#include "fuzz/FuzzData.h"
#include "support/CodePage.h"

#include <QSet>
#include <QStringView>

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Characters, with a surrogate pair as one and a lone surrogate as one.
std::vector<char32_t> Characters(QStringView text)
{
    std::vector<char32_t> characters;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            characters.push_back(QChar::surrogateToUcs4(text[i], text[i + 1]));
            ++i;
        } else {
            characters.push_back(text[i].unicode());
        }
    }
    return characters;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    const QByteArrayView bytes = input.Rest();

    const QString decoded = FromCp949(bytes);
    if (!decoded.contains(QChar(kReplacement)))
        FUZZ_CHECK(ToCp949(decoded) == bytes);
    DecodeStoredText(bytes);

    // A byte below 0x41 cannot be the second byte of a character, so it always stands for itself:
    // line ends and separators survive whatever bytes surround them.
    std::array<int, 0x41> bytesBelow{};
    std::array<int, 0x41> charactersBelow{};
    for (const char b : bytes) {
        if (static_cast<std::uint8_t>(b) < 0x41)
            ++bytesBelow[static_cast<std::uint8_t>(b)];
    }
    for (const QChar c : decoded) {
        if (c.unicode() < 0x41)
            ++charactersBelow[c.unicode()];
    }
    FUZZ_CHECK(bytesBelow == charactersBelow);

    const QString text = FuzzText(bytes, mode & 1);
    const QString back = FromCp949(ToCp949(text));
    const std::vector<char32_t> sent = Characters(text);
    const std::vector<char32_t> received = Characters(back);
    FUZZ_CHECK(sent.size() == received.size());
    QSet<char32_t> lost; // a lone surrogate is named as the replacement character it becomes
    for (std::size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(received[i] == sent[i] || received[i] == U'?');
        if (received[i] != sent[i])
            lost.insert(QChar::isSurrogate(sent[i]) ? char32_t(kReplacement) : sent[i]);
    }
    const QList<char32_t> lacking = CharactersCp949Lacks(text);
    FUZZ_CHECK(lacking.size() == lost.size() &&
               QSet<char32_t>(lacking.begin(), lacking.end()) == lost);
    // The first character refused is the first one the encoding turned into "?".
    const qsizetype refused = FirstCharacterNotInCp949(text);
    const std::size_t before =
        Characters(QStringView(text).first(std::max<qsizetype>(refused, 0))).size();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const bool changed = received[i] != sent[i];
        FUZZ_CHECK(i < before ? !changed : refused < 0 ? !changed : i > before || changed);
    }
    return 0;
}
