#pragma once

#include <QString>

// The pictures DrawImage finds on a fresh module, drawn by the program itself: "taldern_sample.bmp"
// and "1.bmp" to "14.bmp", each distinct and showing its number. Files already in the folder are
// left as they are, so a user's own pictures under these names win. False when the folder or a
// picture could not be written.
bool CreateSamplePictures(const QString& folder);

// The module's storage folder: "<XDG data folder>/OrvexaLCD Module".
QString ModuleStorageFolder();
