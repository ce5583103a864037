#pragma once

#include "commands/Drawing.h"
#include "commands/Style.h"

#include <QByteArray>
#include <QDateTime>

#include <functional>
#include <span>
#include <utility>

class RandomSource;

// What a button's statement may be made of besides the random source: the console's inputs at
// the press and the state kept between presses.
struct CommandContext
{
    RandomSource& rng;
    PSetGrid& psetGrid;
    FontAlternation& fonts;
    bool randomTextPos;
    bool ctrlHeld;
    QDateTime now;
    // The Print text, trimmed, in the line's code page. Reading it names to the user what the code
    // page lacks, so only a row that sends it reads it.
    std::function<QByteArray()> printText;
};

// A composed statement; a style row's proposal also says which part the command dialog selects.
struct ComposedStatement
{
    ComposedStatement(QByteArray statement) : text(std::move(statement)) {}
    ComposedStatement(StyleProposal proposal)
        : text(std::move(proposal.text)), selStart(proposal.selStart), selEnd(proposal.selEnd)
    {}

    QByteArray text;
    int selStart = 0;
    int selEnd = 0;
};

// How a row's statement goes out. Every statement sent is echoed in the transmit box.
enum class EchoRule
{
    Drawing,  // behind a random colour when "Random Color" is checked
    AsIs,     // as composed
    Proposed, // proposed in the command dialog, which sends what the user keeps
    Asked,    // only when the user answers the row's question with Yes
};

// One command button: its control id, how its statement is composed, and how it goes out.
struct CommandRow
{
    int id;
    ComposedStatement (*compose)(CommandContext&);
    EchoRule echo;
    // For EchoRule::Asked, under the button's own label.
    const char* question = nullptr;
};

// The buttons that send one composed statement, in the order of the console's rows. A row's
// composer draws from the random source in the order the statement's values appear; the
// Drawing rule's colour is drawn after it.
std::span<const CommandRow> CommandRows();
