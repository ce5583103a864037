#pragma once

#include "module/ModuleEngine.h"

#include <QObject>

// The virtual module answers every statement it executes with one report (a key press), so each
// send of a benchmark's script has a report for its expect to wait for.
inline void AnswerEveryStatement(ModuleEngine& engine)
{
    QObject::connect(&engine, &ModuleEngine::CountsChanged, &engine,
                     [&engine, answered = qint64(0)]() mutable {
                         while (answered < engine.StatementCount()) {
                             ++answered;
                             engine.KeyPress('A');
                         }
                     });
}
