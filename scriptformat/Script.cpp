#include "scriptformat/Script.h"

#include "protocol/EventTable.h"
#include "support/CodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <new>
#include <utility>

namespace {

// Every decoder here takes a U+FEFF as the character it is, wherever it stands: a decoder that
// dropped it at the start of a text would make the text shorter than the bytes it was read from.
constexpr auto kKeepMarks =
    QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;

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
    {"date", report_code::kDate, false, false},
    {"time", report_code::kTime, false, false},
    {"screen touch", report_code::kScreenTouch, false, true},
    {"screen touch down", report_code::kScreenTouch, true, false},
    {"screen touch up", report_code::kScreenTouch, false, false},
    {"buffer warning", report_code::kBufferWarning, false, false},
    {"buffer overflow", report_code::kBufferOverflow, false, false},
    {"lcd state", report_code::kLcdState, false, false},
    {"checksum error", report_code::kChecksumError, false, false},
}};

// A step's text outside of "send": a "#" after a blank starts a comment.
QStringView WithoutComment(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == u'#' && (i == 0 || text[i - 1].isSpace()))
            return text.first(i).trimmed();
    return text.trimmed();
}

// Digits only: no sign, no blanks, no other base.
std::optional<int> ParseCount(QStringView text, int most)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value > most)
        return std::nullopt;
    return value;
}

bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Splits "REST keyword N" off the end: returns REST and sets `number` when the word before the
// last is the keyword. A keyword that is the last word itself is found too, with no number, so
// that a forgotten number is refused instead of being taken as part of REST.
QStringView TakeTrailing(QStringView text, QStringView keyword, QStringView& number, bool& found)
{
    found = false;
    const qsizetype lastBlank = text.lastIndexOf(u' ');
    if (lastBlank < 0)
        return text;
    const QStringView last = text.sliced(lastBlank + 1);
    const QStringView head = text.first(lastBlank).trimmed();
    if (last.compare(keyword, Qt::CaseInsensitive) == 0) {
        found = true;
        number = {};
        return head;
    }
    const qsizetype keyBlank = head.lastIndexOf(u' ');
    const QStringView word = head.sliced(keyBlank + 1);
    if (word.compare(keyword, Qt::CaseInsensitive) != 0)
        return text;
    found = true;
    number = last;
    return keyBlank < 0 ? QStringView() : head.first(keyBlank).trimmed();
}

// The options a screen step takes after its file.
enum class ScreenOption
{
    None,
    Tolerance,
    MaxDiff,
    Mask,
};

ScreenOption ScreenOptionOf(QStringView word)
{
    if (word.compare(u"tolerance", Qt::CaseInsensitive) == 0)
        return ScreenOption::Tolerance;
    if (word.compare(u"max-diff", Qt::CaseInsensitive) == 0)
        return ScreenOption::MaxDiff;
    if (word.compare(u"mask", Qt::CaseInsensitive) == 0)
        return ScreenOption::Mask;
    return ScreenOption::None;
}

// "P%" with up to three decimals, 0 to 100, in thousandths of a percent.
std::optional<int> ParseShare(QStringView text)
{
    if (!text.endsWith(u'%'))
        return std::nullopt;
    text.chop(1);
    const qsizetype point = text.indexOf(u'.');
    const QStringView whole = point < 0 ? text : text.first(point);
    const QStringView fraction = point < 0 ? QStringView() : text.sliced(point + 1);
    if (point >= 0 && (fraction.isEmpty() || fraction.size() > 3))
        return std::nullopt;
    const std::optional<int> units = ParseCount(whole, 100);
    std::optional<int> thousandths = fraction.isEmpty() ? 0 : ParseCount(fraction, 999);
    if (!units || !thousandths)
        return std::nullopt;
    for (qsizetype i = fraction.size(); i < 3; ++i)
        *thousandths *= 10;
    const int value = *units * 1000 + *thousandths;
    return value <= 100000 ? std::optional<int>(value) : std::nullopt;
}

// "X,Y,W,H", wholly on the screen.
std::optional<QRect> ParseMask(QStringView text)
{
    const auto parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<int> value =
            ParseCount(parts[i], i % 2 == 0 ? ScreenCheck::kWidth : ScreenCheck::kHeight);
        if (!value)
            return std::nullopt;
        values[i] = *value;
    }
    const QRect area(values[0], values[1], values[2], values[3]);
    if (area.isEmpty() || area.right() >= ScreenCheck::kWidth ||
        area.bottom() >= ScreenCheck::kHeight)
        return std::nullopt;
    return area;
}

QString ScreenOptionFault(ScreenOption option, QStringView value)
{
    const QString shown = value.left(40).toString();
    switch (option) {
    case ScreenOption::Tolerance:
        return QStringLiteral("tolerance takes 0..255 per channel, not \"%1\"").arg(shown);
    case ScreenOption::MaxDiff:
        return QStringLiteral("max-diff takes a share of the pixels, 0% to 100% with up to three "
                              "decimals (such as 0.5%), not \"%1\"")
            .arg(shown);
    default:
        return QStringLiteral("mask takes X,Y,W,H of an area on the %1 x %2 screen, without "
                              "blanks, not \"%3\"")
            .arg(ScreenCheck::kWidth)
            .arg(ScreenCheck::kHeight)
            .arg(shown);
    }
}

// Reads "FILE [option value]..." from the end, the options in any order; an error names the
// first thing that does not fit, and is empty when the whole text fits.
QString ParseScreenArguments(QStringView args, QStringView& file, ScreenCheck& check)
{
    bool tolerance = false, maxDiff = false;
    QStringView rest = args.trimmed();
    for (;;) {
        const qsizetype lastBlank = rest.lastIndexOf(u' ');
        if (lastBlank < 0)
            break;
        const QStringView last = rest.sliced(lastBlank + 1);
        const QStringView head = rest.first(lastBlank).trimmed();
        // An option that lost its value is refused, not taken as a part of the file's name.
        if (const ScreenOption alone = ScreenOptionOf(last); alone != ScreenOption::None)
            return ScreenOptionFault(alone, {});
        const qsizetype keyBlank = head.lastIndexOf(u' ');
        const ScreenOption option = ScreenOptionOf(head.sliced(keyBlank + 1));
        if (option == ScreenOption::None)
            break;
        if ((option == ScreenOption::Tolerance && std::exchange(tolerance, true)) ||
            (option == ScreenOption::MaxDiff && std::exchange(maxDiff, true)))
            return QStringLiteral("%1 is given twice").arg(head.sliced(keyBlank + 1).toString());
        if (option == ScreenOption::Tolerance) {
            const std::optional<int> value = ParseCount(last, 255);
            if (!value)
                return ScreenOptionFault(option, last);
            check.tolerance = *value;
        } else if (option == ScreenOption::MaxDiff) {
            const std::optional<int> value = ParseShare(last);
            if (!value)
                return ScreenOptionFault(option, last);
            check.maxDiffMilli = *value;
        } else {
            const std::optional<QRect> area = ParseMask(last);
            if (!area)
                return ScreenOptionFault(option, last);
            check.masks.push_back(*area);
        }
        rest = keyBlank < 0 ? QStringView() : head.first(keyBlank).trimmed();
    }
    std::reverse(check.masks.begin(), check.masks.end());
    file = rest;
    if (file.isEmpty())
        return QStringLiteral("screen needs a reference picture FILE.png");
    // An option left among the words of the name had a value that is not one ("mask 1, 2,3,4").
    const auto words = file.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < words.size(); ++i)
        if (const ScreenOption option = ScreenOptionOf(words[i]); option != ScreenOption::None) {
            const QStringView after = file.sliced(words[i].data() - file.data() + words[i].size());
            return ScreenOptionFault(option, after.trimmed());
        }
    return {};
}

// A line's decoded text, with the way back from a position in it to the file's bytes.
class LineText
{
public:
    LineText(const QString& text, qsizetype byteAt, bool ascii)
        : m_text(text), m_byteAt(byteAt), m_ascii(ascii)
    {}

    QStringView View() const { return m_text; }

    // `part` is a piece of View().
    TextSpan Span(QStringView part) const
    {
        if (part.isEmpty())
            return {};
        const qsizetype index = part.data() - m_text.constData();
        return {static_cast<std::uint32_t>(m_byteAt + Utf8Length(QStringView(m_text).first(index))),
                static_cast<std::uint32_t>(Utf8Length(part))};
    }

private:
    qsizetype Utf8Length(QStringView text) const
    {
        if (m_ascii)
            return text.size();
        qsizetype bytes = 0;
        for (const QChar c : text)
            bytes += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 || c.isSurrogate() ? 2 : 3;
        return bytes;
    }

    const QString& m_text;
    qsizetype m_byteAt;
    bool m_ascii;
};

class LineParser
{
public:
    LineParser(int line, std::vector<ScriptError>& errors, std::vector<ScriptError>& warnings)
        : m_line(line), m_errors(errors), m_warnings(warnings)
    {}

    std::optional<ScriptStep> Parse(const LineText& line)
    {
        const QStringView trimmed = line.View().trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            return std::nullopt;
        const qsizetype blank = trimmed.indexOf(u' ');
        const QString word = trimmed.first(blank < 0 ? trimmed.size() : blank).toString().toLower();
        const QStringView rest = blank < 0 ? QStringView() : trimmed.sliced(blank + 1).trimmed();

        ScriptStep step;
        step.line = m_line;
        // A statement may hold "#" itself, so a send takes the whole rest of its line.
        step.source = line.Span(word == u"send" ? trimmed : WithoutComment(trimmed));
        const QStringView args = word == u"send" ? rest : WithoutComment(rest);
        QStringView argument = args;
        bool ok = false;
        if (word == u"send")
            ok = ParseSend(args, step);
        else if (word == u"sendhex")
            ok = ParseHex(args, step);
        else if (word == u"expect")
            ok = ParseExpect(args, step, argument);
        else if (word == u"expect-none")
            ok = ParseExpectNone(args, step, argument);
        else if (word == u"wait")
            ok = ParseWait(args, step);
        else if (word == u"touch" || word == u"press" || word == u"move" || word == u"release")
            ok = ParsePoint(word, args, step);
        else if (word == u"key")
            ok = ParseKey(args, step);
        else if (word == u"event")
            ok = ParseEvent(args, step);
        else if (word == u"screen")
            ok = ParseScreen(args, step, argument);
        else
            Fail(QStringLiteral("unknown step \"%1\"").arg(word.left(40)));
        if (!ok)
            return std::nullopt;
        step.argument = line.Span(argument);
        return step;
    }

private:
    bool Fail(const QString& message)
    {
        m_errors.push_back({m_line, message});
        return false;
    }

    bool ParseSend(QStringView args, ScriptStep& step)
    {
        if (args.isEmpty())
            return Fail(QStringLiteral("send needs a statement text"));
        // Sent as "?", such a character would reach the module as another text than the script
        // says, without a word.
        const qsizetype bad = FirstCharacterNotInCp949(args);
        if (bad >= 0) {
            const char32_t c = args[bad].isHighSurrogate() && bad + 1 < args.size()
                                   ? QChar::surrogateToUcs4(args[bad], args[bad + 1])
                                   : args[bad].unicode();
            return Fail(QStringLiteral("\"%1\" (U+%2) cannot be sent: code page 949, which the "
                                       "module reads, has no such character")
                            .arg(QString::fromUcs4(&c, 1),
                                 QString::number(uint(c), 16).toUpper().rightJustified(4, u'0')));
        }
        step.kind = Kind::Send;
        // The module acts on a statement only at its ";": without one it waits for the rest,
        // and the step passes while nothing was done.
        if (!args.endsWith(u';'))
            m_warnings.push_back({m_line, QStringLiteral("the text sent does not end with \";\", "
                                                         "so the module waits for the rest of "
                                                         "the statement")});
        return true;
    }

    bool ParseHex(QStringView args, ScriptStep& step)
    {
        step.kind = Kind::SendHex;
        const auto words = args.split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            return Fail(QStringLiteral("sendhex needs bytes, as two hex digits each"));
        for (const QStringView word : words)
            if (word.size() != 2 || !IsHexDigit(word[0]) || !IsHexDigit(word[1]))
                return Fail(QStringLiteral("\"%1\" is not a byte of two hex digits")
                                .arg(word.left(40).toString()));
        return true;
    }

    bool ParseLimit(QStringView number, const char* what, int& ms)
    {
        if (number.isEmpty())
            return Fail(QStringLiteral("%1 takes milliseconds after it, 1 to %2")
                            .arg(QLatin1String(what))
                            .arg(kMostStepMs));
        const std::optional<int> value = ParseCount(number, kMostStepMs);
        if (!value || *value == 0)
            return Fail(QStringLiteral("%1 takes milliseconds, 1 to %2, not \"%3\"")
                            .arg(QLatin1String(what))
                            .arg(kMostStepMs)
                            .arg(number.left(40).toString()));
        ms = *value;
        return true;
    }

    bool ParseExpect(QStringView args, ScriptStep& step, QStringView& pattern)
    {
        step.kind = Kind::Expect;
        step.ms = kDefaultExpectMs;
        QStringView number;
        bool found = false;
        pattern = TakeTrailing(args, u"within", number, found);
        if (found && !ParseLimit(number, "within", step.ms))
            return false;
        if (pattern.isEmpty())
            return Fail(QStringLiteral("expect needs a pattern"));
        return true;
    }

    bool ParseExpectNone(QStringView args, ScriptStep& step, QStringView& pattern)
    {
        step.kind = Kind::ExpectNone;
        QStringView number;
        bool found = false;
        pattern = TakeTrailing(args, u"for", number, found);
        if (!found)
            return Fail(QStringLiteral("expect-none needs \"for MS\" at its end"));
        if (!ParseLimit(number, "for", step.ms))
            return false;
        if (pattern.isEmpty())
            return Fail(QStringLiteral("expect-none needs a pattern"));
        return true;
    }

    bool ParseWait(QStringView args, ScriptStep& step)
    {
        step.kind = Kind::Wait;
        const std::optional<int> value = ParseCount(args, kMostStepMs);
        if (!value)
            return Fail(QStringLiteral("wait takes milliseconds, 0 to %1, not \"%2\"")
                            .arg(kMostStepMs)
                            .arg(args.left(40).toString()));
        step.ms = *value;
        return true;
    }

    bool ParsePoint(const QString& word, QStringView args, ScriptStep& step)
    {
        step.kind = word == u"touch"   ? Kind::Touch
                    : word == u"press" ? Kind::Press
                    : word == u"move"  ? Kind::Move
                                       : Kind::Release;
        const auto parts = args.split(u',');
        const std::optional<int> x =
            parts.size() == 2 ? ParseCount(parts[0].trimmed(), 799) : std::nullopt;
        const std::optional<int> y =
            parts.size() == 2 ? ParseCount(parts[1].trimmed(), 479) : std::nullopt;
        if (!x || !y)
            return Fail(QStringLiteral("%1 takes X,Y on the screen (0..799, 0..479), not \"%2\"")
                            .arg(word, args.left(40).toString()));
        step.x = static_cast<std::int16_t>(*x);
        step.y = static_cast<std::int16_t>(*y);
        return true;
    }

    bool ParseKey(QStringView args, ScriptStep& step)
    {
        step.kind = Kind::Key;
        std::optional<int> code;
        if (args.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && args.size() > 2 &&
            args.size() <= 4) {
            const QStringView digits = args.sliced(2);
            if (std::all_of(digits.begin(), digits.end(), IsHexDigit))
                code = digits.toInt(nullptr, 16);
        } else if (args.size() == 1 && !args[0].isDigit() && args[0].unicode() < 128) {
            code = args[0].unicode();
        } else {
            code = ParseCount(args, 255);
        }
        if (!code)
            return Fail(QStringLiteral("key takes a code 0..255 (decimal, 0xHH or one "
                                       "character), not \"%1\"")
                            .arg(args.left(40).toString()));
        step.key = static_cast<std::uint8_t>(*code);
        return true;
    }

    bool ParseEvent(QStringView args, ScriptStep& step)
    {
        step.kind = Kind::Event;
        QString name = args.toString().toLower();
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
                        .arg(args.left(40).toString()));
    }

    bool ParseScreen(QStringView args, ScriptStep& step, QStringView& file)
    {
        step.kind = Kind::Screen;
        ScreenCheck check;
        const QString error = ParseScreenArguments(args, file, check);
        return error.isEmpty() || Fail(error);
    }

    int m_line;
    std::vector<ScriptError>& m_errors;
    std::vector<ScriptError>& m_warnings;
};

// The end of the line that starts at `at`, and where the next one starts.
qsizetype LineEnd(QByteArrayView content, qsizetype at, qsizetype& next)
{
    for (qsizetype i = at; i < content.size(); ++i) {
        if (content[i] == '\n') {
            next = i + 1;
            return i;
        }
        if (content[i] == '\r') {
            next = i + 1 < content.size() && content[i + 1] == '\n' ? i + 2 : i + 1;
            return i;
        }
    }
    next = content.size();
    return content.size();
}

// Lines that may hold a step: not blank, no comment. A cheap pass over the bytes, so that the
// steps are stored once in room of their size, not copied as their array doubles.
qsizetype StepLinesAtMost(QByteArrayView content)
{
    qsizetype lines = 0;
    bool atStart = true;
    for (const char c : content) {
        if (c == '\n' || c == '\r') {
            atStart = true;
        } else if (atStart && c != ' ' && c != '\t') {
            lines += c != '#';
            atStart = false;
        }
    }
    return lines;
}

void Parse(ParseOutcome& outcome)
{
    const QByteArrayView content = outcome.text;
    outcome.steps.reserve(static_cast<std::size_t>(StepLinesAtMost(content)));
    int line = 0;
    qsizetype at = 0;
    QStringDecoder decoder(QStringDecoder::Utf8, kKeepMarks);
    while (at < content.size()) {
        ++line;
        qsizetype next = 0;
        const qsizetype end = LineEnd(content, at, next);
        QByteArrayView bytes = content.sliced(at, end - at);
        qsizetype lineAt = at;
        at = next;
        // Scripts joined into one file each bring their byte-order mark: at the start of a line it
        // is that mark, not text. Skipped here with its bytes, so the spans keep to the file.
        if (bytes.startsWith("\xEF\xBB\xBF")) {
            bytes = bytes.sliced(3);
            lineAt += 3;
        }
        if (bytes.size() > kMostLineBytes) {
            outcome.errors.push_back(
                {line, QStringLiteral("the line is longer than %1 bytes").arg(kMostLineBytes)});
            continue;
        }
        const QString text = decoder(bytes);
        if (decoder.hasError() || text.contains(QChar(0))) {
            decoder.resetState();
            outcome.errors.push_back({line, QStringLiteral("the line is not UTF-8 text")});
            continue;
        }
        const LineText lineText(text, lineAt, text.size() == bytes.size());
        if (std::optional<ScriptStep> step =
                LineParser(line, outcome.errors, outcome.warnings).Parse(lineText))
            outcome.steps.push_back(*step);
    }
}

QString OutOfMemory(qsizetype bytes)
{
    return QStringLiteral("not enough memory to hold the script's steps (%1 MiB of text)")
        .arg(double(bytes) / (1 << 20), 0, 'f', 1);
}

} // namespace

QString Script::Decoded(TextSpan span) const
{
    QStringDecoder decoder(QStringDecoder::Utf8, kKeepMarks);
    return decoder(Bytes(span));
}

QByteArray Script::HexBytes(const ScriptStep& step) const
{
    // The parser let through only bytes of two hex digits between blanks, which this skips.
    return QByteArray::fromHex(Bytes(step.argument).toByteArray());
}

ParseOutcome ParseScript(QByteArray content)
{
    ParseOutcome outcome;
    outcome.text = std::move(content);
    try {
        Parse(outcome);
    } catch (const std::bad_alloc&) {
        const qsizetype bytes = outcome.text.size();
        outcome = ParseOutcome{};
        outcome.errors.push_back({0, OutOfMemory(bytes)});
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
    QByteArray content;
    try {
        content = file.read(kMostScriptBytes + 1);
    } catch (const std::bad_alloc&) {
        return fail(OutOfMemory(file.size()));
    }
    if (content.size() > kMostScriptBytes)
        return fail(QStringLiteral("larger than %1 MiB; not a script").arg(kMostScriptBytes >> 20));
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read: %1").arg(file.errorString()));
    return ParseScript(std::move(content));
}

QString ShareText(qint64 milli)
{
    QString text = QString::number(milli / 1000);
    if (const qint64 part = milli % 1000; part != 0) {
        QString digits = QString::number(part).rightJustified(3, u'0');
        while (digits.endsWith(u'0'))
            digits.chop(1);
        text += u'.' + digits;
    }
    return text + u'%';
}

ScreenCheck Script::Screen(const ScriptStep& step) const
{
    ScreenCheck check;
    const QString source = Source(step);
    const qsizetype blank = source.indexOf(u' ');
    QStringView file;
    if (blank >= 0)
        ParseScreenArguments(QStringView(source).sliced(blank + 1), file, check);
    return check;
}

std::optional<ScriptError> FindVirtualOnlyStep(const Script& script)
{
    for (const ScriptStep& step : script.steps)
        if (step.IsVirtualOnly())
            return ScriptError{step.line,
                               QStringLiteral("\"%1\" needs the virtual module (--virtual); a real "
                                              "module's screen and touch panel cannot be driven")
                                   .arg(script.Source(step).left(60))};
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
