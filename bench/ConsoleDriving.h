#pragma once

// Driving the real console from a benchmark as a user would: opening a published port at a
// speed, and letting the event loop run for a while.

#include "app/ConsoleDlg.h"
#include "resources/ControlIds.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>

inline void RunEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Selects "COM<port>" and the speed at `speedIndex`, then presses "Open". False when the port is
// not listed or did not open.
inline bool OpenPort(CConsoleDlg& console, int port, int speedIndex)
{
    auto* ports = qobject_cast<QComboBox*>(console.Item(ids::kPortList));
    auto* speeds = qobject_cast<QComboBox*>(console.Item(ids::kSpeedList));
    auto* open = qobject_cast<QAbstractButton*>(console.Item(ids::kOpen));
    const int entry = ports->findText(QStringLiteral("COM%1").arg(port));
    if (entry < 0)
        return false;
    ports->setCurrentIndex(entry);
    speeds->setCurrentIndex(speedIndex);
    open->click();
    return console.Comm().GetPortOpen();
}
