#pragma once

// The application object: runs the console as a modal dialog and ends the program when it
// closes. There is no message loop of its own beyond the dialog's.
class CConsoleApp
{
public:
    // Returns false: the program ends when the console does.
    bool InitInstance();
};
