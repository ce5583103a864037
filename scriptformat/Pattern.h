#pragma once

#include <QByteArrayView>

// A report pattern of a script: "*" matches any run of characters (also none), "?" exactly one,
// every other character only itself. Matching is on the whole text. Runs in time proportional to
// pattern times text at worst, so no pattern can make a run hang.
bool MatchesPattern(QByteArrayView pattern, QByteArrayView text);
