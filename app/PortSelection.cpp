#include "app/PortSelection.h"

#include "support/Decimal.h"

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
