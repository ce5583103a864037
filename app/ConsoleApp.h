#pragma once

#include <functional>

class CConsoleDlg;

// The application object: runs the console as a modal dialog and ends the program when it
// closes. There is no message loop of its own beyond the dialog's. SIGINT, SIGTERM and SIGHUP
// (a terminal closed, the desktop session ending, kill) close the console as the window manager
// would, so the settings are written and the program ends normally.
class CConsoleApp
{
public:
    // Returns false: the program ends when the console does. `ready`, when given, is called with
    // the console once it is made and before it runs.
    bool InitInstance(const std::function<void(CConsoleDlg&)>& ready = {});
};
