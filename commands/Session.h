#pragma once

#include <QByteArray>
#include <QDateTime>

// Statements of the last rows that take no random values.
QByteArray ComposeClear();
QByteArray ComposeCalibrate();
// "SetClock year,month,day,hour,minute,second;" in plain decimal, without padding.
QByteArray ComposeSetClock(const QDateTime& localTime);
