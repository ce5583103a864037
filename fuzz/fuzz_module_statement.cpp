// The virtual module's statement reader and parser on any byte stream: the statements do not
// depend on how the stream is split, each is trimmed and holds no ";" outside quotes, and each
// parses to a statement or a reason without fault.
#include "fuzz/FuzzData.h"
#include "module/StatementParser.h"
#include "module/StatementReader.h"

namespace {

bool Same(const std::vector<ReadStatement>& a, const std::vector<ReadStatement>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].text != b[i].text || a[i].error != b[i].error)
            return false;
    }
    return true;
}

bool EndsOutsideQuotes(const QByteArray& text)
{
    bool inQuote = false;
    for (const char c : text) {
        if (c == '\'')
            inQuote = !inQuote;
        else if (c == ';' && !inQuote)
            return false;
    }
    return !inQuote;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t split = input.Mode();
    const QByteArrayView stream = input.Rest();

    StatementReader whole;
    std::vector<ReadStatement> statements;
    whole.Feed(stream, statements);
    const std::optional<ReadStatement> partial = whole.DropPartial();

    StatementReader pieces;
    std::vector<ReadStatement> pieceStatements;
    const qsizetype step = 1 + split % 16;
    for (qsizetype at = 0; at < stream.size(); at += step)
        pieces.Feed(stream.sliced(at, std::min(step, stream.size() - at)), pieceStatements);
    const std::optional<ReadStatement> piecePartial = pieces.DropPartial();
    FUZZ_CHECK(Same(statements, pieceStatements));
    FUZZ_CHECK(partial.has_value() == piecePartial.has_value());
    FUZZ_CHECK(!partial || (partial->text == piecePartial->text && !partial->error.isEmpty()));
    FUZZ_CHECK(!whole.HasPartial());

    for (const ReadStatement& read : statements) {
        if (!read.error.isEmpty())
            continue;
        FUZZ_CHECK(!read.text.isEmpty() && read.text == read.text.trimmed());
        FUZZ_CHECK(read.text.size() <= StatementReader::kLongestStatement);
        FUZZ_CHECK(EndsOutsideQuotes(read.text));
        const auto parsed = ParseStatement(read.text);
        if (const auto* statement = std::get_if<Statement>(&parsed)) {
            FUZZ_CHECK(!statement->keyword.isEmpty());
            FUZZ_CHECK(statement->keyword == statement->keyword.toLower());
        } else {
            FUZZ_CHECK(!std::get<QByteArray>(parsed).isEmpty());
        }
    }
    return 0;
}
