#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <variant>
#include <vector>

// One argument of a statement as the console writes them.
struct Argument
{
    enum class Kind
    {
        Number, // decimal integer, negative too
        Colour, // "&H" and up to six hex digits, red in the high byte
        Word,   // "$" keyword, kept in lower case: "$push", "$transparent"
        Text,   // quoted text, decoded
    };
    Kind kind = Kind::Number;
    long number = 0; // Number and Colour
    QByteArray word;
    QString text;
};

struct Statement
{
    QByteArray keyword; // lower case: keywords are case-insensitive
    std::vector<Argument> arguments;
};

// Splits one statement (without its ";") into keyword and arguments. The result is the statement,
// or the reason it is malformed.
std::variant<Statement, QByteArray> ParseStatement(QByteArrayView text);

// Quoted text in code page 949, or in the "U::" form of four-hex-digit UTF-16 units, optionally
// separated by a blank, "," or "-". False when a "U::" text is not made of such units.
bool DecodeQuotedText(QByteArrayView quoted, QString& text);
