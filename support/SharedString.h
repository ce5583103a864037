#pragma once

#include <QByteArray>
#include <QString>

// A short text another process publishes under a name (the process log's path, the application
// name), as POSIX shared memory "/<name>" with every "\" or "/" of the name turned into "_".
// Returns the text up to its first 0 byte, never beyond the object's end. Empty, with `found`
// false, when no such object exists or it cannot be opened.
QByteArray ReadSharedString(const QString& name, bool* found = nullptr);
