#include "script/Script.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <utility>

namespace {

using Kind = ScriptStep::Kind;

struct EventName
{
    const char* name;
    std::uint8_t code;
    bool state;
    bool both;
};

// The module's hand-sent reports, by the names its Events menu gives them.
constexpr std::array<EventName, 9> kEvents{{
    {"date", 0x86, false, false},
    {"time", 0x87, false, false},
    {"screen touch", 0x8C, false, true},
    {"screen touch down", 0x8C, true, false},
    {"screen touch up", 0x8C, false, false},
    {"buffer warning", 0x88, false, false},
    {"buffer overflow", 0x89, false, false},
    {"lcd state", 0x8A, false, false},
    {"checksum error", 0x8B, false, false},
}};

// A step's text outside of "send": a "#" after a blank starts a comment.
QString WithoutComment(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == u'#' && (i == 0 || text[i - 1].isSpace()))
            return text.left(i).trimmed();
    return text.trimmed();
}

std::optional<int> ParseCount(const QString& text, int most)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 0 || value > most || text.startsWith(u'+'))
        return std::nullopt;
    return value;
}

// Splits "REST keyword N" off the end: returns REST and sets n when the last two words are the
// keyword and a number; `found` tells whether the keyword was there at all.
QString TakeTrailing(const QString& text, QStringView keyword, QString& number, bool& found)
{
    found = false;
    const qsizetype lastBlank = text.lastIndexOf(u' ');
    if (lastBlank < 0)
        return text;
    const QString head = text.left(lastBlank).trimmed();
    const qsizetype keyBlank = head.lastIndexOf(u' ');
    const QString word = head.mid(keyBlank + 1);
    if (word.compare(keyword, Qt::CaseInsensitive) != 0)
        return text;
    found = true;
    number = text.mid(lastBlank + 1);
    return keyBlank < 0 ? QString() : head.left(keyBlank).trimmed();
}

class LineParser
{
public:
    LineParser(int line, std::vector<ScriptError>& errors) : m_line(line), m_errors(errors) {}

    std::optional<ScriptStep> Parse(const QString& raw)
    {
        const QString trimmed = raw.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            return std::nullopt;
        const qsizetype blank = trimmed.indexOf(u' ');
        const QString word = trimmed.left(blank < 0 ? trimmed.size() : blank).toLower();
        const QString rest = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();

        ScriptStep step;
        step.line = m_line;
        // A statement may hold "#" itself, so a send takes the whole rest of its line.
        step.source = word == u"send" ? trimmed : WithoutComment(trimmed);
        const QString args = word == u"send" ? rest : WithoutComment(rest);
        bool ok = false;
        if (word == u"send")
            ok = ParseSend(args, step);
        else if (word == u"sendhex")
            ok = ParseHex(args, step);
        else if (word == u"expect")
            ok = ParseExpect(args, step);
        else if (word == u"expect-none")
            ok = ParseExpectNone(args, step);
        else if (word == u"wait")
            ok = ParseWait(args, step);
        else if (word == u"touch" || word == u"press" || word == u"move" || word == u"release")
            ok = ParsePoint(word, args, step);
        else if (word == u"key")
            ok = ParseKey(args, step);
        else if (word == u"event")
            ok = ParseEvent(args, step);
        else if (word == u"screen")
            ok = ParseScreen(args, step);
        else
            Fail(QStringLiteral("unknown step \"%1\"").arg(word.left(40)));
        return ok ? std::optional(std::move(step)) : std::nullopt;
    }

private:
    bool Fail(const QString& message)
    {
        m_errors.push_back({m_line, message});
        return false;
    }

    bool ParseSend(const QString& args, ScriptStep& step)
    {
        if (args.isEmpty())
            return Fail(QStringLiteral("send needs a statement text"));
        step.kind = Kind::Send;
        step.text = args;
        return true;
    }

    bool ParseHex(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::SendHex;
        const QStringList words = args.split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            return Fail(QStringLiteral("sendhex needs bytes, as two hex digits each"));
        for (const QString& word : words) {
            bool ok = false;
            const uint value = word.toUInt(&ok, 16);
            if (!ok || word.size() != 2)
                return Fail(
                    QStringLiteral("\"%1\" is not a byte of two hex digits").arg(word.left(40)));
            step.bytes.append(static_cast<char>(value));
        }
        return true;
    }

    bool ParseLimit(const QString& number, const char* what, int& ms)
    {
        const std::optional<int> value = ParseCount(number, kMostStepMs);
        if (!value || *value == 0)
            return Fail(QStringLiteral("%1 takes milliseconds, 1 to %2, not \"%3\"")
                            .arg(QLatin1String(what))
                            .arg(kMostStepMs)
                            .arg(number.left(40)));
        ms = *value;
        return true;
    }

    bool ParseExpect(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::Expect;
        step.ms = kDefaultExpectMs;
        QString number;
        bool found = false;
        const QString pattern = TakeTrailing(args, u"within", number, found);
        if (found && !ParseLimit(number, "within", step.ms))
            return false;
        if (pattern.isEmpty())
            return Fail(QStringLiteral("expect needs a pattern"));
        step.pattern = pattern.toUtf8();
        return true;
    }

    bool ParseExpectNone(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::ExpectNone;
        QString number;
        bool found = false;
        const QString pattern = TakeTrailing(args, u"for", number, found);
        if (!found)
            return Fail(QStringLiteral("expect-none needs \"for MS\" at its end"));
        if (!ParseLimit(number, "for", step.ms))
            return false;
        if (pattern.isEmpty())
            return Fail(QStringLiteral("expect-none needs a pattern"));
        step.pattern = pattern.toUtf8();
        return true;
    }

    bool ParseWait(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::Wait;
        const std::optional<int> value = ParseCount(args, kMostStepMs);
        if (!value)
            return Fail(QStringLiteral("wait takes milliseconds, 0 to %1, not \"%2\"")
                            .arg(kMostStepMs)
                            .arg(args.left(40)));
        step.ms = *value;
        return true;
    }

    bool ParsePoint(const QString& word, const QString& args, ScriptStep& step)
    {
        step.kind = word == u"touch"   ? Kind::Touch
                    : word == u"press" ? Kind::Press
                    : word == u"move"  ? Kind::Move
                                       : Kind::Release;
        const QStringList parts = args.split(u',');
        const std::optional<int> x =
            parts.size() == 2 ? ParseCount(parts[0].trimmed(), 799) : std::nullopt;
        const std::optional<int> y =
            parts.size() == 2 ? ParseCount(parts[1].trimmed(), 479) : std::nullopt;
        if (!x || !y)
            return Fail(QStringLiteral("%1 takes X,Y on the screen (0..799, 0..479), not \"%2\"")
                            .arg(word, args.left(40)));
        step.point = QPoint(*x, *y);
        return true;
    }

    bool ParseKey(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::Key;
        std::optional<int> code;
        if (args.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && args.size() > 2) {
            bool ok = false;
            const int value = args.mid(2).toInt(&ok, 16);
            if (ok && value >= 0 && value <= 255)
                code = value;
        } else if (args.size() == 1 && !args[0].isDigit() && args[0].unicode() < 128) {
            code = args[0].unicode();
        } else {
            code = ParseCount(args, 255);
        }
        if (!code)
            return Fail(QStringLiteral("key takes a code 0..255 (decimal, 0xHH or one "
                                       "character), not \"%1\"")
                            .arg(args.left(40)));
        step.key = static_cast<std::uint8_t>(*code);
        return true;
    }

    bool ParseEvent(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::Event;
        QString name = args.toLower();
        name.replace(u'-', u' ').replace(u'_', u' ');
        name = name.simplified();
        for (const EventName& event : kEvents) {
            if (name == QLatin1String(event.name)) {
                step.eventCode = event.code;
                step.eventState = event.state;
                step.eventBoth = event.both;
                return true;
            }
        }
        return Fail(QStringLiteral("unknown event \"%1\"; one of: date, time, screen touch, "
                                   "screen touch down, screen touch up, buffer warning, buffer "
                                   "overflow, lcd state, checksum error")
                        .arg(args.left(40)));
    }

    bool ParseScreen(const QString& args, ScriptStep& step)
    {
        step.kind = Kind::Screen;
        QString number;
        bool found = false;
        const QString file = TakeTrailing(args, u"tolerance", number, found);
        if (found) {
            const std::optional<int> value = ParseCount(number, 255);
            if (!value)
                return Fail(QStringLiteral("tolerance takes 0..255 per channel, not \"%1\"")
                                .arg(number.left(40)));
            step.tolerance = *value;
        }
        if (file.isEmpty())
            return Fail(QStringLiteral("screen needs a reference picture FILE.png"));
        step.file = file;
        return true;
    }

    int m_line;
    std::vector<ScriptError>& m_errors;
};

} // namespace

ParseOutcome ParseScript(QByteArrayView content)
{
    ParseOutcome outcome;
    if (content.startsWith("\xEF\xBB\xBF"))
        content = content.sliced(3);
    int line = 0;
    qsizetype at = 0;
    while (at < content.size()) {
        ++line;
        qsizetype end = content.indexOf('\n', at);
        if (end < 0)
            end = content.size();
        QByteArrayView bytes = content.sliced(at, end - at);
        at = end + 1;
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.size() > kMostLineBytes) {
            outcome.errors.push_back(
                {line, QStringLiteral("the line is longer than %1 bytes").arg(kMostLineBytes)});
            continue;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(bytes);
        if (decoder.hasError() || text.contains(QChar(0))) {
            outcome.errors.push_back({line, QStringLiteral("the line is not UTF-8 text")});
            continue;
        }
        if (std::optional<ScriptStep> step = LineParser(line, outcome.errors).Parse(text))
            outcome.steps.push_back(std::move(*step));
    }
    return outcome;
}

ParseOutcome LoadScript(const QString& path)
{
    ParseOutcome outcome;
    const QFileInfo info(path);
    const auto fail = [&](const QString& message) {
        outcome.errors.push_back({0, message});
        return outcome;
    };
    if (!info.exists())
        return fail(QStringLiteral("no such file"));
    if (info.isDir())
        return fail(QStringLiteral("is a folder, not a script"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read: %1").arg(file.errorString()));
    if (file.size() > kMostScriptBytes)
        return fail(QStringLiteral("larger than %1 MiB; not a script").arg(kMostScriptBytes >> 20));
    const QByteArray content = file.read(kMostScriptBytes + 1);
    if (content.size() > kMostScriptBytes)
        return fail(QStringLiteral("larger than %1 MiB; not a script").arg(kMostScriptBytes >> 20));
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read: %1").arg(file.errorString()));
    return ParseScript(content);
}

std::optional<ScriptError> FindVirtualOnlyStep(const std::vector<ScriptStep>& steps)
{
    for (const ScriptStep& step : steps)
        if (step.IsVirtualOnly())
            return ScriptError{step.line,
                               QStringLiteral("\"%1\" needs the virtual module (--virtual); a real "
                                              "module's screen and touch panel cannot be driven")
                                   .arg(step.source.left(60))};
    return std::nullopt;
}

QString FormatScriptError(const QString& path, const ScriptError& error)
{
    return error.line > 0 ? QStringLiteral("%1:%2: %3").arg(path).arg(error.line).arg(error.message)
                          : QStringLiteral("%1: %2").arg(path, error.message);
}

QString EventStepName(std::uint8_t code, bool state, bool both)
{
    for (const EventName& event : kEvents)
        if (event.code == code && event.state == state && event.both == both)
            return QString::fromLatin1(event.name);
    return {};
}
