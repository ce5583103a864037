#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class CStringUtil
{
public:
    // Two uppercase hexadecimal digits per byte: "abc" becomes "616263".
    static QByteArray HexEncode(QByteArrayView bytes);

    // Decodes pairs of digits until the first pair that gives the byte 0, which is how a stored
    // value marks that it is not hex (a pair "00", or one not starting with a digit). An odd
    // length fails at once and leaves `out` as it was; a failure further on leaves in `out` what
    // was decoded before the failing pair.
    static bool TryHexDecode(QByteArrayView hex, QByteArray& out);
    // The decoded bytes, or empty when TryHexDecode fails.
    static QByteArray HexDecode(QByteArrayView hex);

    // Reads hex numbers the way the module writes them in its text reports: every "0x" is
    // dropped; a rest of more than four characters is read as a high part and a four-character
    // low part; each part is read like strtol in base 16 (leading digits only, 0 when there are
    // none).
    static long ParseHex(QByteArrayView text);

    // The whole file as text (UTF-8 when valid, else CP949). Without `replaceNul` the text ends
    // at the file's first 0 byte; with it every 0 byte becomes `replacement`. Returns false, with
    // `out` empty, when the file cannot be opened.
    static bool ReadTextFile(const QString& path, QString& out, bool replaceNul = false,
                             char replacement = ' ');

    // Replaces the file's content with `text` in UTF-8, exactly, with nothing added. Missing
    // folders are created. The old content is replaced atomically, so it stays whole when the
    // write fails; only a regular file is replaced. Failures are logged ("J92": no folder, "J22":
    // no file) and return false, with the file and the cause for the user in `error`.
    static bool WriteTextFile(const QString& path, const QString& text, bool openAfter = false,
                              QString* error = nullptr);
};
