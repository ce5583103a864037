#include "scriptformat/ScriptWriter.h"

#include "scriptformat/Script.h"
#include "support/CodePage.h"
#include "support/FileReplace.h"

#include <algorithm>

namespace script_line {

namespace {

bool IsPlainText(const QString& text)
{
    if (text.isEmpty() || text != text.trimmed())
        return false;
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return false;
    return true;
}

} // namespace

QByteArray Send(QByteArrayView bytes)
{
    const QString text = FromCp949(bytes);
    if (IsPlainText(text) && ToCp949(text) == bytes)
        return "send " + text.toUtf8();
    QByteArray line = "sendhex";
    for (const char byte : bytes)
        line += ' ' + QByteArray(1, byte).toHex().toUpper();
    return line;
}

QByteArray Expect(QByteArrayView reportLine, int withinMs)
{
    QByteArray pattern = reportLine.toByteArray().trimmed();
    pattern.replace('#', '?');
    for (char& c : pattern)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    if (pattern.isEmpty())
        pattern = "*";
    return "expect " + pattern + " within " + QByteArray::number(withinMs);
}

QByteArray Wait(int ms)
{
    return "wait " + QByteArray::number(ms);
}

QByteArray Point(const char* step, QPoint at)
{
    return QByteArray(step) + ' ' + QByteArray::number(at.x()) + ',' + QByteArray::number(at.y());
}

QByteArray Key(std::uint8_t code)
{
    return "key " + QByteArray::number(code);
}

QByteArray Event(const QString& name)
{
    return "event " + name.toUtf8();
}

QByteArray Screen(const QString& file, const ScreenCheck& check)
{
    QByteArray line = "screen " + file.toUtf8();
    if (check.tolerance != 0)
        line += " tolerance " + QByteArray::number(check.tolerance);
    if (check.maxDiffMilli != 0) {
        QByteArray share = QByteArray::number(check.maxDiffMilli / 1000);
        if (const int part = check.maxDiffMilli % 1000; part != 0) {
            QByteArray digits = QByteArray::number(part).rightJustified(3, '0');
            while (digits.endsWith('0'))
                digits.chop(1);
            share += '.' + digits;
        }
        line += " max-diff " + share + '%';
    }
    for (const QRect& mask : check.masks)
        line += " mask " + QByteArray::number(mask.x()) + ',' + QByteArray::number(mask.y()) + ',' +
                QByteArray::number(mask.width()) + ',' + QByteArray::number(mask.height());
    // What reads back otherwise is refused here rather than written as another step.
    const ParseOutcome parsed = ParseScript(line);
    if (!parsed.errors.empty() || parsed.steps.size() != 1 ||
        parsed.File(parsed.steps.front()) != file ||
        !(parsed.Screen(parsed.steps.front()) == check))
        return {};
    return line;
}

QByteArray Comment(const QString& text)
{
    QString flat = text;
    for (QChar& c : flat)
        if (c.unicode() < 0x20)
            c = u' ';
    return "# " + flat.toUtf8();
}

} // namespace script_line

int RecordedExpectLimit(qint64 latencyMs)
{
    const qint64 doubled = 2 * qMax<qint64>(latencyMs, 0);
    const qint64 rounded = (doubled + 99) / 100 * 100;
    return static_cast<int>(std::clamp<qint64>(rounded, 200, kMostStepMs));
}

bool ScriptFile::Open(const QString& path, QString* error)
{
    Discard();
    // FileReplacement replaces only a regular file (or makes a new one): renaming over a device
    // node or a folder would destroy something that is not a script.
    auto file = std::make_unique<FileReplacement>(path);
    QString cause;
    if (!file->Open(&cause)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, cause);
        return false;
    }
    m_file = std::move(file);
    m_path = path;
    m_error.clear();
    return true;
}

void ScriptFile::Append(QByteArrayView line)
{
    if (!m_file || !m_error.isEmpty())
        return;
    QByteArray bytes = line.toByteArray();
    bytes += '\n';
    if (QString cause; !m_file->Write(bytes, &cause))
        m_error = QStringLiteral("%1: %2").arg(m_path, cause);
}

bool ScriptFile::Finish(QString* error)
{
    if (!m_file)
        return true;
    if (QString cause; m_error.isEmpty() && !m_file->Commit(&cause))
        m_error = QStringLiteral("%1: %2").arg(m_path, cause);
    const QString failure = m_error;
    Discard();
    if (failure.isEmpty())
        return true;
    if (error)
        *error = failure;
    return false;
}

void ScriptFile::Discard()
{
    // Without a commit, the target stays as it was.
    m_file.reset();
    m_error.clear();
}
