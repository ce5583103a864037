#include "script/ScreenCompare.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
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

std::vector<ScriptError> CheckReferencePictures(const Script& script, QSize screen)
{
    std::vector<ScriptError> errors;
    for (const ScriptStep& step : script.steps) {
        if (step.kind != ScriptStep::Kind::Screen)
            continue;
        const QString path = ReferencePicturePath(script.path, script.File(step));
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

ScreenDifference CompareScreens(const QImage& actual, const QImage& reference, int tolerance)
{
    ScreenDifference result;
    const QImage a = actual.convertToFormat(QImage::Format_RGB32);
    const QImage r = reference.convertToFormat(QImage::Format_RGB32);
    if (a.size() != r.size()) {
        result.pixels = qint64(std::max(a.width(), r.width())) * std::max(a.height(), r.height());
        result.largest = 255;
        return result;
    }
    QImage difference;
    for (int y = 0; y < a.height(); ++y) {
        const auto* lineA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lineR = reinterpret_cast<const QRgb*>(r.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int off = std::max({std::abs(qRed(lineA[x]) - qRed(lineR[x])),
                                      std::abs(qGreen(lineA[x]) - qGreen(lineR[x])),
                                      std::abs(qBlue(lineA[x]) - qBlue(lineR[x]))});
            result.largest = std::max(result.largest, off);
            if (off <= tolerance)
                continue;
            if (difference.isNull()) {
                // A faint copy of the reference, so the red marks can be placed on the screen.
                difference = r.copy();
                for (int yy = 0; yy < difference.height(); ++yy) {
                    auto* line = reinterpret_cast<QRgb*>(difference.scanLine(yy));
                    for (int xx = 0; xx < difference.width(); ++xx)
                        line[xx] =
                            qRgb(qGray(line[xx]) / 4, qGray(line[xx]) / 4, qGray(line[xx]) / 4);
                }
            }
            reinterpret_cast<QRgb*>(difference.scanLine(y))[x] = qRgb(255, 0, 0);
            ++result.pixels;
        }
    }
    result.picture = difference;
    return result;
}
