#include "module/StatementSignature.h"

#include <algorithm>
#include <iterator>

namespace {

using Kind = Argument::Kind;

struct ArgumentKind
{
    char letter;
    const char* name; // as an error names what was wanted
    bool (*matches)(const Argument&);
};

constexpr ArgumentKind kKinds[] = {
    {'n', "a number", [](const Argument& a) { return a.kind == Kind::Number; }},
    {'c', "a colour", [](const Argument& a) { return a.kind == Kind::Colour; }},
    {'t', "a quoted text", [](const Argument& a) { return a.kind == Kind::Text; }},
    {'k', "a colour or a \"$\" keyword",
     [](const Argument& a) { return a.kind == Kind::Colour || a.kind == Kind::Word; }},
};

const ArgumentKind* FindKind(char letter)
{
    const auto* it = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [letter](const ArgumentKind& k) { return k.letter == letter; });
    return it == std::end(kKinds) ? nullptr : it;
}

QByteArray Count(std::size_t n)
{
    return QByteArray::number(qulonglong(n));
}

} // namespace

QByteArray CheckSignature(std::string_view signature, const std::vector<Argument>& args)
{
    const std::size_t bar = signature.find('|');
    const std::size_t required = bar == std::string_view::npos ? signature.size() : bar;
    const std::size_t most = signature.size() - (bar == std::string_view::npos ? 0 : 1);
    if (args.size() < required || args.size() > most) {
        QByteArray expected = Count(required);
        if (most != required)
            expected += " to " + Count(most);
        return "takes " + expected + " arguments, got " + Count(args.size());
    }
    std::size_t i = 0;
    for (const char letter : signature) {
        if (i == args.size())
            break;
        if (letter == '|')
            continue;
        const ArgumentKind* kind = FindKind(letter);
        // A letter outside the table is a fault of the command table, not of the statement; it
        // refuses every argument rather than let one through unchecked.
        if (!kind || !kind->matches(args[i]))
            return "argument " + Count(i + 1) + " should be " + (kind ? kind->name : "?");
        ++i;
    }
    return {};
}
