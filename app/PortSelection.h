#pragma once

#include <QString>
#include <QStringList>

// Which entry of the port list to select at start for the saved port number: with a saved port
// n > 0, the first entry that begins with "COM<n>" (case-insensitive), searching from the second
// entry and wrapping round to the first, so a saved port 1 selects a "COM10" listed after
// "COM1"; with n <= 0 the first entry. -1 when nothing matches or the list is empty.
int PortEntryToSelect(const QStringList& entries, int savedPort);

// The port number a port-list text names: "COM7" gives 7; text that is not a number gives 0.
// `checkPrefix` drops "COM" only when it is there (how the settings are saved); without it the
// first three characters are skipped unchecked (how a port is opened).
int PortNumberFromText(const QString& text, bool checkPrefix);

// What Open says when no entry of the port list is selected: with none listed, the ways to get
// a port (a device, a link in `portFolder`, the virtual module); with some, to choose one.
QString NoPortSelectedMessage(bool anyListed, const QString& portFolder);
