#pragma once

#include "module/EventEncoder.h"
#include "support/RandomSource.h"

#include <QByteArray>

// Event reports as the module sends them, made by the virtual module's encoder from the shared
// table, so a decoder fed with them meets every event, both states and values of every width its
// fields hold.

// One framed report of a random event, state and values.
QByteArray RandomReport(RandomSource& rng, ReportForm form);

// Whole reports back to back, at least `atLeast` bytes, `textPercent` of them in the text form.
// Ending on a whole report leaves a decoder between reports.
QByteArray ReportStream(RandomSource& rng, qsizetype atLeast, int textPercent);
