#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

// What the reader hands on: a complete statement without its ";", or, when `error` is set, the
// start of bytes that could not form one and why.
struct ReadStatement
{
    QByteArray text;
    QByteArray error;
};

// Reassembles statements from the pieces the line delivers, however they are split. ";" ends a
// statement outside single quotes; blanks around a statement and empty statements (";;") vanish.
// Bytes that cannot become a statement are reported once and reading goes on, so a bad sender
// never stops the module.
class StatementReader
{
public:
    // A statement longer than this without its ";" is given up: it is reported and the rest of
    // it, up to the next ";", is skipped.
    static constexpr qsizetype kLongestStatement = 64 * 1024;

    void Feed(QByteArrayView bytes, std::vector<ReadStatement>& out);

    // Gives up a statement the sender left incomplete (the line has gone quiet): it is returned
    // as an error and the next byte starts a fresh statement. Nothing when no statement is open.
    std::optional<ReadStatement> DropPartial();

    bool HasPartial() const { return !m_current.isEmpty() || m_skipping; }

private:
    QByteArray m_current;
    bool m_inQuote = false;
    bool m_skipping = false; // after an over-long statement, until its ";"
};
