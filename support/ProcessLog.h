#pragma once

#include <QByteArrayView>

// Appends one line, "<local ISO time with ms> pid <pid> <code>", to the process log: the file
// whose path the shared string "lgwpath_<pid>" names. Without that string, or when the file
// cannot be opened, the line goes to standard error so the code is never lost silently.
void WriteProcessLog(QByteArrayView codeText);
