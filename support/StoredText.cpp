#include "support/StoredText.h"

#include "support/CodePage.h"

#include <QFile>
#include <QFileInfo>

bool DecodesExactly(QByteArrayView bytes)
{
    return !bytes.contains('\0') && DecodesStoredTextWhole(bytes);
}

LoadedText LoadStoredText(const QString& path, qsizetype maxCharacters)
{
    LoadedText loaded;
    const QFileInfo info(path);
    if (!info.isFile()) {
        loaded.exact = !info.exists();
        return loaded;
    }
    loaded.fileBytes = info.size();
    // No character takes more than four bytes, so a larger file cannot fit, and is not read:
    // reading 50 MB only to refuse it would hold up the window.
    if (loaded.fileBytes > 4 * maxCharacters) {
        loaded.tooLarge = true;
        return loaded;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return loaded;
    QByteArray bytes = file.readAll();
    loaded.exact = DecodesExactly(bytes);
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    loaded.text = DecodeStoredText(bytes);
    if (loaded.text.size() > maxCharacters) {
        loaded.text.clear();
        loaded.exact = false;
        loaded.tooLarge = true;
    }
    return loaded;
}
