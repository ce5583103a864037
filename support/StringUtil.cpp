#include "support/StringUtil.h"

#include "support/CodePage.h"
#include "support/FileReplace.h"
#include "support/ProcessLog.h"
#include "support/SystemUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace {

// strtol in base 16 on a part of the text; the copy supplies the terminating 0 strtol needs.
unsigned long HexPrefixValue(QByteArrayView part)
{
    const QByteArray copy = part.toByteArray();
    return static_cast<unsigned long>(std::strtol(copy.constData(), nullptr, 16));
}

} // namespace

QByteArray CStringUtil::HexEncode(QByteArrayView bytes)
{
    return bytes.toByteArray().toHex().toUpper();
}

bool CStringUtil::TryHexDecode(QByteArrayView hex, QByteArray& out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const auto byte = static_cast<unsigned char>(ParseHex(hex.sliced(i, 2)) & 0xFF);
        if (byte == 0)
            return false;
        out.append(static_cast<char>(byte));
    }
    return true;
}

QByteArray CStringUtil::HexDecode(QByteArrayView hex)
{
    QByteArray out;
    if (!TryHexDecode(hex, out))
        return {};
    return out;
}

long CStringUtil::ParseHex(QByteArrayView text)
{
    const QByteArray rest = text.toByteArray().replace("0x", "");
    if (rest.size() <= 4)
        return static_cast<long>(HexPrefixValue(rest));
    const QByteArrayView view(rest);
    const unsigned long high = HexPrefixValue(view.first(view.size() - 4));
    const unsigned long low = HexPrefixValue(view.last(4));
    // Unsigned, so an out-of-range or negative high part wraps instead of being undefined.
    return static_cast<long>((high << 16) | low);
}

bool CStringUtil::ReadTextFile(const QString& path, QString& out, bool replaceNul, char replacement)
{
    out.clear();
    if (!QFileInfo(path).isFile())
        return false; // a folder, a device or a pipe is not a saved text, and may block
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    if (replaceNul)
        bytes.replace('\0', replacement);
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    out = DecodeStoredText(bytes);
    return true;
}

bool CStringUtil::WriteTextFile(const QString& path, const QString& text, bool openAfter,
                                QString* error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (path.isEmpty() || !QDir().mkpath(folder)) {
        WriteProcessLog("J92");
        if (error)
            *error =
                QStringLiteral("%1: its folder cannot be made").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // Emptying the file and then writing it would lose the text to a crash or a full disk in
    // between; a replacement written beside it and renamed over it cannot.
    QString cause;
    if (!ReplaceFileWhole(path, text.toUtf8(), &cause)) {
        WriteProcessLog("J22");
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), cause);
        return false;
    }
    if (openAfter)
        CSystemUtil::ShellOpen(path);
    return true;
}
