#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

// Code page 949 is what the module's text commands speak, and what the console's files were
// written in before they moved to UTF-8.
// Text the user types stays Unicode inside the program and only becomes CP949 bytes at the
// moment it goes out on the line or comes in from an old file.

// Characters CP949 cannot hold each become one "?", so the module still gets one glyph per
// character and the statement keeps its shape.
QByteArray ToCp949(const QString& text);

// The characters of `text` that CP949 cannot hold, so that ToCp949 sends each as "?": every one
// once, in the order they first appear (a lone surrogate as U+FFFD, which it becomes). Empty when
// the text goes out as it is.
QList<char32_t> CharactersCp949Lacks(QStringView text);
// The index of the first character of `text` that CP949 cannot hold (and ToCp949 would send as
// "?"), or -1 when it holds them all.
qsizetype FirstCharacterNotInCp949(QStringView text);

// Each byte that does not start a valid CP949 sequence becomes U+FFFD; decoding never fails.
QString FromCp949(QByteArrayView bytes);

// The settings and saved-text files are written in UTF-8, but files written by earlier versions of
// the console are CP949. Text that is valid UTF-8 is taken as such; anything else is read as CP949.
QString DecodeStoredText(QByteArrayView bytes);

// True when DecodeStoredText() loses nothing: the text, written back in the code page it was
// read in, gives these very bytes.
bool DecodesStoredTextWhole(QByteArrayView bytes);
