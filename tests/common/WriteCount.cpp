#include "tests/common/WriteCount.h"

#include <QByteArray>
#include <QFile>

WriteCount ThreadWriteCount()
{
    WriteCount count;
    QFile accounting(QStringLiteral("/proc/thread-self/io"));
    if (!accounting.open(QIODevice::ReadOnly))
        return count;
    const QList<QByteArray> lines = accounting.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("syscw:"))
            count.calls = line.mid(6).trimmed().toLongLong();
        else if (line.startsWith("wchar:"))
            count.bytes = line.mid(6).trimmed().toLongLong();
    }
    return count;
}
