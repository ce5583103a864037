#pragma once

#include "scriptformat/Script.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// A screen step's reference picture: relative names are taken from the script's folder.
QString ReferencePicturePath(const QString& scriptPath, const QString& file);

// Why `path` cannot be read as a reference picture without risk (missing, a folder, not a
// regular file); empty when it can.
QString RegularFileFault(const QString& path);

// Errors for every screen step whose reference is missing, not a regular file, unreadable or not
// of the module's `screen` size, with the step's line; checked before a run so that a bad
// reference costs no port time.
std::vector<ScriptError> CheckReferencePictures(const Script& script, QSize screen);

struct ScreenDifference
{
    qint64 pixels = 0; // pixels with a channel off by more than the tolerance
    int largest = 0;   // the largest channel difference seen
    QImage picture;    // the differing pixels red over a faint copy of the reference
};

// Compares colour channels (alpha is not shown on the module and is ignored). Both pictures must
// have the same size; the difference picture is made only when pixels differ.
ScreenDifference CompareScreens(const QImage& actual, const QImage& reference, int tolerance);
