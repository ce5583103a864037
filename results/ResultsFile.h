#pragma once

#include "results/RunResults.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The results file: RunResults as JSON, {"format": "orvexa-results", "version": 1, ...}. The
// members are described where the man page of orvexa-run describes --results; in short:
//  - every time is a number of milliseconds since "started" (ISO 8601, UTC);
//  - a text from the line (a statement sent, a report line) is a JSON string when its bytes are
//    UTF-8, otherwise {"hex": "..."} with its bytes, so no byte is lost;
//  - pictures are named by their path relative to the results file's folder, not embedded.
// Members a reader does not know are ignored, so a later version 1 may add some; a change old
// readers cannot ignore takes a new version.

inline constexpr int kResultsVersion = 1;
// A larger file is refused before it is read: a run of a million steps stays far below.
inline constexpr qsizetype kMostResultsBytes = 256 * 1024 * 1024;
// No time in a results file is larger (over 115 days in milliseconds), nor a latency.
inline constexpr double kMostResultsMs = 1e10;
inline constexpr int kMostLine = 1 << 27;
inline constexpr int kMostRepeat = 1000 * 1000 * 1000;

// The JSON text. Picture paths are written relative to `folder`, the results file's folder.
QByteArray ResultsJson(const RunResults& results, const QString& folder);

// Reads the JSON text strictly: each member has the type and range it must have, runs name
// scripts listed in the file and steps lines of those scripts. On an error, returns false with
// `error` naming what is wrong and where ("runs[2].steps[0].status: ..."). Relative picture paths
// are taken from `folder`; the model holds them cleaned and absolute.
bool ParseResultsJson(QByteArrayView json, const QString& folder, RunResults& results,
                      QString& error);

// Writes the file whole (the old one stays untouched when writing fails); false with the reason.
bool SaveResults(const QString& path, const RunResults& results, QString& error);

// Reads a results file; false with an error that names the file and what is wrong with it.
bool LoadResults(const QString& path, RunResults& results, QString& error);
