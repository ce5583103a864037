#include "script/ScreenCompare.h"

#include "support/FileReplace.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

QString ReferencePicturePath(const QString& scriptPath, const QString& file)
{
    if (QFileInfo(file).isAbsolute())
        return file;
    return QFileInfo(scriptPath).dir().filePath(file);
}

QString RegularFileFault(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return QStringLiteral("no reference picture \"%1\"").arg(path);
    // Reading a pipe or a device could wait for ever, or never end.
    if (!info.isFile())
        return QStringLiteral("the reference picture \"%1\" is not a regular file").arg(path);
    return {};
}

std::optional<ReferenceUpdate> ReferenceUpdateFrom(const QString& word)
{
    if (word == QLatin1String("missing"))
        return ReferenceUpdate::Missing;
    if (word == QLatin1String("failed"))
        return ReferenceUpdate::Failed;
    if (word == QLatin1String("all"))
        return ReferenceUpdate::All;
    return std::nullopt;
}

bool IsMissingReference(const QString& path)
{
    return !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
}

bool WriteReferencePicture(const QString& path, const QImage& screen, QString* error)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !screen.save(&buffer, "PNG")) {
        *error = QStringLiteral("the screen could not be encoded as PNG");
        return false;
    }
    return ReplaceFileWhole(path, png, error);
}

std::vector<ScriptError> CheckReferencePictures(const Script& script, QSize screen,
                                                bool missingAllowed)
{
    std::vector<ScriptError> errors;
    for (const ScriptStep& step : script.steps) {
        if (step.kind != ScriptStep::Kind::Screen)
            continue;
        const QString path = ReferencePicturePath(script.path, script.File(step));
        if (missingAllowed && IsMissingReference(path))
            continue;
        if (const QString fault = RegularFileFault(path); !fault.isEmpty()) {
            errors.push_back({step.line, fault});
            continue;
        }
        QImageReader reader(path);
        const QSize size = reader.size();
        if (!reader.canRead() || !size.isValid()) {
            errors.push_back(
                {step.line,
                 QStringLiteral("\"%1\" is not a picture: %2").arg(path, reader.errorString())});
        } else if (size != screen) {
            errors.push_back({step.line, QStringLiteral("\"%1\" is %2 x %3, not %4 x %5")
                                             .arg(path)
                                             .arg(size.width())
                                             .arg(size.height())
                                             .arg(screen.width())
                                             .arg(screen.height())});
        }
    }
    return errors;
}

ScreenDifference CompareScreens(const QImage& actual, const QImage& reference,
                                const ScreenCheck& check)
{
    ScreenDifference result;
    const QImage a = actual.convertToFormat(QImage::Format_RGB32);
    const QImage r = reference.convertToFormat(QImage::Format_RGB32);
    if (a.size() != r.size()) {
        result.pixels = qint64(std::max(a.width(), r.width())) * std::max(a.height(), r.height());
        result.compared = result.pixels;
        result.largest = 255;
        return result;
    }
    // One byte a pixel: 1 where a mask covers it. Overlapping masks count once.
    std::vector<std::uint8_t> masked;
    if (!check.masks.empty()) {
        masked.assign(std::size_t(a.width()) * std::size_t(a.height()), 0);
        for (const QRect& mask : check.masks) {
            const QRect area = mask.intersected(a.rect());
            for (int y = area.top(); y <= area.bottom(); ++y)
                std::fill_n(masked.begin() + std::ptrdiff_t(y) * a.width() + area.left(),
                            area.width(), std::uint8_t(1));
        }
    }
    const auto isMasked = [&](int x, int y) {
        return !masked.empty() && masked[std::size_t(y) * std::size_t(a.width()) + std::size_t(x)];
    };
    QImage difference;
    for (int y = 0; y < a.height(); ++y) {
        const auto* lineA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lineR = reinterpret_cast<const QRgb*>(r.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (isMasked(x, y))
                continue;
            ++result.compared;
            const int off = std::max({std::abs(qRed(lineA[x]) - qRed(lineR[x])),
                                      std::abs(qGreen(lineA[x]) - qGreen(lineR[x])),
                                      std::abs(qBlue(lineA[x]) - qBlue(lineR[x]))});
            result.largest = std::max(result.largest, off);
            if (off <= check.tolerance)
                continue;
            if (difference.isNull()) {
                // A faint copy of the reference, so the red marks can be placed on the screen,
                // and the masks in blue, so a change there is seen as not compared.
                difference = r.copy();
                for (int yy = 0; yy < difference.height(); ++yy) {
                    auto* line = reinterpret_cast<QRgb*>(difference.scanLine(yy));
                    for (int xx = 0; xx < difference.width(); ++xx) {
                        const int grey = qGray(line[xx]) / 4;
                        line[xx] =
                            isMasked(xx, yy) ? qRgb(grey, grey, 96 + grey) : qRgb(grey, grey, grey);
                    }
                }
            }
            reinterpret_cast<QRgb*>(difference.scanLine(y))[x] = qRgb(255, 0, 0);
            ++result.pixels;
        }
    }
    result.picture = difference;
    // In whole numbers: pixels / compared <= maxDiffMilli / 100000.
    result.passed = result.pixels * 100000 <= qint64(check.maxDiffMilli) * result.compared;
    return result;
}
