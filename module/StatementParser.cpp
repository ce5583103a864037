#include "module/StatementParser.h"

#include "support/CodePage.h"

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits at "," outside quotes.
std::vector<QByteArrayView> SplitArguments(QByteArrayView text)
{
    std::vector<QByteArrayView> parts;
    bool inQuote = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            inQuote = !inQuote;
        else if (text[i] == ',' && !inQuote) {
            parts.push_back(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.sliced(start));
    return parts;
}

QByteArray ParseArgument(QByteArrayView raw, Argument& argument)
{
    const QByteArrayView text = raw.trimmed();
    if (text.isEmpty())
        return "empty";
    const char first = text[0];
    if (first == '\'') {
        if (text.size() < 2 || text.back() != '\'')
            return "text not closed by a quote";
        argument.kind = Argument::Kind::Text;
        if (!DecodeQuotedText(text.sliced(1, text.size() - 2), argument.text))
            return "\"U::\" text is not four-digit hex units";
        return {};
    }
    if (first == '$') {
        if (text.size() < 2)
            return "\"$\" without a keyword";
        for (const char c : text.sliced(1))
            if (!IsLetter(c))
                return "\"$\" keyword with characters other than letters";
        argument.kind = Argument::Kind::Word;
        argument.word = text.toByteArray().toLower();
        return {};
    }
    if (first == '&') {
        if (text.size() < 3 || text.size() > 8 || (text[1] != 'H' && text[1] != 'h'))
            return "colour is not \"&H\" and up to six hex digits";
        long value = 0;
        for (const char c : text.sliced(2)) {
            if (HexValue(c) < 0)
                return "colour is not \"&H\" and up to six hex digits";
            value = value << 4 | HexValue(c);
        }
        argument.kind = Argument::Kind::Colour;
        argument.number = value;
        return {};
    }
    qsizetype at = (first == '-' || first == '+') ? 1 : 0;
    // Nine digits keep every value well inside a long and far beyond any screen.
    if (at == text.size() || text.size() - at > 9)
        return "not a number";
    long value = 0;
    for (; at < text.size(); ++at) {
        if (!IsDigit(text[at]))
            return "not a number";
        value = value * 10 + (text[at] - '0');
    }
    argument.kind = Argument::Kind::Number;
    argument.number = first == '-' ? -value : value;
    return {};
}

} // namespace

bool DecodeQuotedText(QByteArrayView quoted, QString& text)
{
    if (!quoted.startsWith("U::")) {
        text = FromCp949(quoted);
        return true;
    }
    text.clear();
    QByteArrayView rest = quoted.sliced(3);
    while (!rest.isEmpty()) {
        if (rest.size() < 4)
            return false;
        char16_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexValue(rest[i]);
            if (digit < 0)
                return false;
            unit = static_cast<char16_t>(unit << 4 | digit);
        }
        text += QChar(unit);
        rest = rest.sliced(4);
        if (!rest.isEmpty() && (rest[0] == ' ' || rest[0] == ',' || rest[0] == '-'))
            rest = rest.sliced(1);
    }
    return true;
}

std::variant<Statement, QByteArray> ParseStatement(QByteArrayView text)
{
    text = text.trimmed();
    if (text.isEmpty() || !IsLetter(text[0]))
        return QByteArray("does not start with a keyword");
    qsizetype end = 1;
    while (end < text.size() && (IsLetter(text[end]) || IsDigit(text[end])))
        ++end;
    Statement statement;
    statement.keyword = text.first(end).toByteArray().toLower();
    const QByteArrayView rest = text.sliced(end);
    if (rest.isEmpty())
        return statement;
    if (!IsBlank(rest[0]))
        return QByteArray("no blank after the keyword");
    if (rest.trimmed().isEmpty())
        return statement;

    int index = 0;
    for (const QByteArrayView raw : SplitArguments(rest)) {
        ++index;
        Argument argument;
        const QByteArray error = ParseArgument(raw, argument);
        if (!error.isEmpty())
            return "argument " + QByteArray::number(index) + ": " + error;
        statement.arguments.push_back(std::move(argument));
    }
    return statement;
}
