#include "commands/Session.h"

#include "commands/StatementParts.h"

QByteArray ComposeClear()
{
    return "Clear;";
}

QByteArray ComposeCalibrate()
{
    return "Calibrate;";
}

QByteArray ComposeSetClock(const QDateTime& localTime)
{
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    return "SetClock " +
           compose::DecimalList({date.year(), date.month(), date.day(), time.hour(),
                                 time.minute(), time.second()}) +
           ';';
}
