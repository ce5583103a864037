#pragma once

#include <QString>

// Developer tracing is on only on machines that hold the developer marker file. The file is
// looked at once per run; creating or deleting it later changes nothing until the next start.

// The marker file this build looks for.
QString DefaultMarkerFilePath();

bool IsTraceEnabled();

// Forget the answer and look at `markerPath` on the next IsTraceEnabled(), so a test can decide
// whether the marker is there without touching the machine's root folder.
void ResetTraceMarker(const QString& markerPath);
