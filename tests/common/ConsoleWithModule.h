#pragma once

#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"
#include "tests/console/ConsoleFixture.h"

#include <QString>
#include <QTemporaryDir>

// The real console, offscreen, and the virtual module in this process, talking over a real
// pseudo-terminal. The module's line is published as COM<kPort> in the port folder under the
// fixture's temporary config folder as soon as the fixture is made; Open() starts the console and
// opens that port the way a user does. Reports the engine makes go back over the line. The
// console goes first when the fixture does, as its window would close before a module it is
// talking to.
struct ConsoleWithModule : ConsoleFixture
{
    static constexpr int kPort = 9;

    ConsoleWithModule();
    ~ConsoleWithModule();

    // Starts the console, selects the module's port and presses "Open"; returns once the module
    // has run the statement every open sends first. The cause when that did not happen, empty on
    // success.
    QString Open();

    QTemporaryDir storage; // the module's pictures
    ModuleEngine engine{storage.path()};
    ModuleLine line;

private:
    QString m_lineError;
};
