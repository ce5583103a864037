#include "results/RunResults.h"

#include <QCryptographicHash>

#include <algorithm>

QString StatusName(StepStatus status)
{
    switch (status) {
    case StepStatus::Passed:
        return QStringLiteral("passed");
    case StepStatus::Failed:
        return QStringLiteral("failed");
    case StepStatus::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

QString ScriptDigest(QByteArrayView content)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

bool IsTestKind(const QString& kind)
{
    return kind == u"expect" || kind == u"expect-none" || kind == u"screen";
}

bool CountsInSummary(const StepInfo& step, const StepRun& run)
{
    return IsTestKind(step.kind) || run.status == StepStatus::Failed;
}

const ScriptInfo* FindScript(const RunResults& results, const QString& path)
{
    const auto it = std::find_if(results.scripts.begin(), results.scripts.end(),
                                 [&](const ScriptInfo& script) { return script.path == path; });
    return it == results.scripts.end() ? nullptr : &*it;
}

const StepInfo* FindStep(const ScriptInfo& script, int line)
{
    const auto it =
        std::lower_bound(script.steps.begin(), script.steps.end(), line,
                         [](const StepInfo& step, int wanted) { return step.line < wanted; });
    return it != script.steps.end() && it->line == line ? &*it : nullptr;
}

int Utf8CharLength(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    int more = 0;
    char32_t value = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        more = 1, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() <= more)
        return 0;
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (p[i] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return more + 1;
}

bool IsUtf8(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const int length = Utf8CharLength(bytes);
        if (length == 0)
            return false;
        bytes = bytes.sliced(length);
    }
    return true;
}
