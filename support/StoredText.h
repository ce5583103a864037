#pragma once

#include <QByteArrayView>
#include <QString>

// A saved text (the transmit box's file, a settings file) may hold what the console cannot show:
// a 0 byte, bytes valid in neither UTF-8 nor code page 949. Such a text is written back only when
// the user has changed it; otherwise the stored bytes stay as they are.

// True when DecodeStoredText() gives a text that is written back as these very bytes, or as the
// same text in UTF-8: nothing was cut or replaced.
bool DecodesExactly(QByteArrayView bytes);

// The transmit box's file as the box can show it.
struct LoadedText
{
    QString text;       // what to show; empty when the file is too large to show
    bool exact = false; // showing `text` keeps every byte of the file
    bool tooLarge = false;
    qint64 fileBytes = 0;
};

// Reads the file unless it is larger than `maxCharacters` could need; the text ends at the first
// 0 byte. A missing file is an exact, empty text.
LoadedText LoadStoredText(const QString& path, qsizetype maxCharacters);
