#pragma once

#include "app/CommandTable.h"

#include <QDateTime>

#include <functional>

class PortSession;
class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;
class RandomSource;

// Presses of the command buttons (CommandRows): a row's statement is composed from the console's
// inputs and sent by the row's echo rule. Keeps what the composers carry from press to press: the
// PSet grid and the font alternation.
class CommandButtons
{
public:
    // The console's widgets the rows read or write.
    struct Inputs
    {
        QPlainTextEdit* transmit;
        QLineEdit* printText;
        QCheckBox* randomColor;
        QCheckBox* randomTextPos;
    };

    // Messages and the command dialog stand over `console`.
    CommandButtons(QWidget* console, PortSession& session, RandomSource& rng, Inputs inputs);

    // Throws when the port refuses a send.
    void Run(const CommandRow& row, const QAbstractButton& button);

    // Where SetClock takes the local time from; the wall clock unless a test sets another.
    void SetTimeSource(std::function<QDateTime()> now) { m_now = std::move(now); }

private:
    void Send(const QByteArray& statement);

    QWidget* m_console;
    PortSession& m_session;
    RandomSource& m_rng;
    Inputs m_inputs;
    PSetGrid m_psetGrid;
    FontAlternation m_fonts;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTime(); };
};
