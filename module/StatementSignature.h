#pragma once

#include "module/StatementParser.h"

#include <QByteArray>

#include <string_view>
#include <vector>

// What a statement's arguments must be, one letter per argument: "n" a number, "c" a colour,
// "t" a quoted text, "k" a colour or a "$" keyword. Letters after "|" are optional, each needing
// the ones before it: "nnnn|knn" takes four to seven arguments.
//
// Empty when `args` fit `signature`, else the reason they do not, as the module reports it.
QByteArray CheckSignature(std::string_view signature, const std::vector<Argument>& args);
