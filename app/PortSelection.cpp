#include "app/PortSelection.h"

#include "support/Decimal.h"

#include <QDir>

int PortEntryToSelect(const QStringList& entries, int savedPort)
{
    if (entries.isEmpty())
        return -1;
    if (savedPort <= 0)
        return 0;
    const QString prefix = QStringLiteral("COM%1").arg(savedPort);
    for (qsizetype k = 1; k <= entries.size(); ++k) {
        const qsizetype i = k % entries.size();
        if (entries[i].startsWith(prefix, Qt::CaseInsensitive))
            return static_cast<int>(i);
    }
    return -1;
}

int PortNumberFromText(const QString& text, bool checkPrefix)
{
    if (checkPrefix)
        return DecimalValue(text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)
                                ? QStringView(text).mid(3)
                                : QStringView(text));
    return DecimalValue(QStringView(text).mid(qMin<qsizetype>(3, text.size())));
}

QString NoPortSelectedMessage(bool anyListed, const QString& portFolder)
{
    if (anyListed)
        return QStringLiteral("No port is selected: choose one in the port list, then press "
                              "\"Open\".");
    return QStringLiteral("No serial port was found. Plug a device in, link one in the port "
                          "folder as COM1 to COM255 (%1), or start the virtual module "
                          "(orvexa-module), then press \"Refresh Ports\".")
        .arg(QDir::toNativeSeparators(portFolder));
}
