#pragma once

#include "scriptformat/Script.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

// A screen step's reference picture: relative names are taken from the script's folder.
QString ReferencePicturePath(const QString& scriptPath, const QString& file);

// Why `path` cannot be read as a reference picture without risk (missing, a folder, not a
// regular file); empty when it can.
QString RegularFileFault(const QString& path);

// Which screen steps write the actual screen as their new reference.
enum class ReferenceUpdate
{
    None,
    Missing, // those whose reference does not exist yet
    Failed,  // those whose reference differs beyond the step's limits
    All,     // every one whose reference is not the screen pixel for pixel, missing ones too
};

// "missing", "failed" or "all"; nullopt for anything else.
std::optional<ReferenceUpdate> ReferenceUpdateFrom(const QString& word);

inline bool WritesMissing(ReferenceUpdate update)
{
    return update == ReferenceUpdate::Missing || update == ReferenceUpdate::All;
}
inline bool WritesFailed(ReferenceUpdate update)
{
    return update == ReferenceUpdate::Failed || update == ReferenceUpdate::All;
}

// Nothing at `path`, not even a dangling link: a reference that is missing rather than unusable.
bool IsMissingReference(const QString& path);

// Errors for every screen step whose reference is missing (unless `missingAllowed`, when it is to
// be written), not a regular file, unreadable or not of the module's `screen` size, with the
// step's line; checked before a run so that a bad reference costs no port time.
std::vector<ScriptError> CheckReferencePictures(const Script& script, QSize screen,
                                                bool missingAllowed = false);

// Writes `screen` as the reference picture at `path` (a PNG) in one replace: an old reference is
// either kept whole or replaced whole. False with the cause in `error`.
bool WriteReferencePicture(const QString& path, const QImage& screen, QString* error);

struct ScreenDifference
{
    qint64 pixels = 0;   // compared pixels with a channel off by more than the tolerance
    qint64 compared = 0; // pixels outside every mask
    int largest = 0;     // the largest channel difference seen outside the masks
    QImage picture;      // the differing pixels red over a faint copy of the reference
    // Within the step's max-diff: the differing share of the compared pixels is no larger.
    bool passed = false;
};

// Compares colour channels (alpha is not shown on the module and is ignored) outside the masks.
// Pictures of different sizes differ everywhere; the difference picture is made only when pixels
// differ, with the masked areas left out of it in blue.
ScreenDifference CompareScreens(const QImage& actual, const QImage& reference,
                                const ScreenCheck& check);
