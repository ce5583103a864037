// Test scripts and what a run reads from the line, on any bytes: the script parser reports every
// line as a step or an error (never both, in line order, every value in its range, every text a
// piece of its line, the same whatever the line ends), the pattern
// matcher agrees with a plain reading of the pattern, and the report lines of a byte stream do
// not depend on how the stream is split; a screen step's options read back through the writer.
#include "fuzz/FuzzData.h"
#include "report/ReportDecoder.h"
#include "scriptformat/Pattern.h"
#include "scriptformat/Script.h"
#include "scriptformat/ScriptWriter.h"
#include "support/CodePage.h"

#include <set>

namespace {

// A screen step's options are in range, and what the writer makes of them reads back the same.
void CheckScreen(const Script& script, const ScriptStep& step)
{
    const ScreenCheck check = script.Screen(step);
    FUZZ_CHECK(check.tolerance >= 0 && check.tolerance <= 255);
    FUZZ_CHECK(check.maxDiffMilli >= 0 && check.maxDiffMilli <= 100000);
    for (const QRect& mask : check.masks)
        FUZZ_CHECK(!mask.isEmpty() &&
                   QRect(0, 0, ScreenCheck::kWidth, ScreenCheck::kHeight).contains(mask));
    FUZZ_CHECK(!script.File(step).isEmpty());
    const QByteArray line = script_line::Screen(script.File(step), check);
    if (line.isEmpty())
        return;
    const ParseOutcome again = ParseScript(line);
    FUZZ_CHECK(again.errors.empty() && again.steps.size() == 1);
    FUZZ_CHECK(again.File(again.steps.front()) == script.File(step));
    FUZZ_CHECK(again.Screen(again.steps.front()) == check);
}

void CheckScript(QByteArrayView text)
{
    const ParseOutcome parsed = ParseScript(text.toByteArray());
    // A lone CR ends a line as LF and CR LF do.
    const int lines = int(text.count('\n') + text.count('\r') - text.count("\r\n")) + 1;
    std::set<int> errorLines;
    int last = 0;
    for (const ScriptError& error : parsed.errors) {
        FUZZ_CHECK(error.line >= last && error.line >= 1 && error.line <= lines);
        FUZZ_CHECK(!error.message.isEmpty());
        last = error.line;
        errorLines.insert(error.line);
    }
    last = 0;
    for (const ScriptStep& step : parsed.steps) {
        FUZZ_CHECK(step.line > last && step.line <= lines);
        FUZZ_CHECK(!errorLines.count(step.line));
        last = step.line;
        FUZZ_CHECK(step.ms >= 0 && step.ms <= kMostStepMs);
        FUZZ_CHECK(step.x >= 0 && step.x < 800 && step.y >= 0 && step.y < 480);
        // The step's texts are whole characters of its own line.
        for (const TextSpan span : {step.source, step.argument}) {
            FUZZ_CHECK(qsizetype(span.at) + span.size <= parsed.text.size());
            const QByteArrayView bytes = QByteArrayView(parsed.text).sliced(span.at, span.size);
            FUZZ_CHECK(bytes.isValidUtf8() && !bytes.contains('\n') && !bytes.contains('\r'));
        }
        FUZZ_CHECK(!parsed.Source(step).isEmpty());
        if (step.kind == ScriptStep::Kind::Expect || step.kind == ScriptStep::Kind::ExpectNone)
            FUZZ_CHECK(!parsed.Pattern(step).isEmpty() && step.ms > 0);
        if (step.kind == ScriptStep::Kind::Send) {
            FUZZ_CHECK(!parsed.Statement(step).isEmpty());
            FUZZ_CHECK(FirstCharacterNotInCp949(parsed.Statement(step)) < 0);
        }
        if (step.kind == ScriptStep::Kind::SendHex)
            FUZZ_CHECK(!parsed.HexBytes(step).isEmpty());
        if (step.kind == ScriptStep::Kind::Event)
            FUZZ_CHECK(!EventStepName(step.eventCode, step.eventState, step.eventBoth).isEmpty());
        if (step.kind == ScriptStep::Kind::Screen)
            CheckScreen(parsed, step);
    }
    // The same script with LF line ends is the same steps.
    QByteArray lf = text.toByteArray();
    lf.replace("\r\n", "\n").replace('\r', '\n');
    const ParseOutcome same = ParseScript(lf);
    FUZZ_CHECK(same.steps.size() == parsed.steps.size() &&
               same.errors.size() == parsed.errors.size());
    for (std::size_t i = 0; i < same.steps.size(); ++i)
        FUZZ_CHECK(same.steps[i].line == parsed.steps[i].line &&
                   same.Source(same.steps[i]) == parsed.Source(parsed.steps[i]));
}

void CheckPattern(QByteArrayView pattern, QByteArrayView text)
{
    const bool matches = MatchesPattern(pattern, text);
    if (!pattern.contains('*') && !pattern.contains('?'))
        FUZZ_CHECK(matches == (pattern == text));
    FUZZ_CHECK(MatchesPattern("*", text));
    FUZZ_CHECK(MatchesPattern(text.contains('*') || text.contains('?') ? "*" : text, text));
    // A star before and after can only widen what matches.
    if (matches)
        FUZZ_CHECK(MatchesPattern(QByteArray("*") + pattern.toByteArray() + "*", text));
}

// The report lines a runner takes from a read: the texts of its reports of a known code.
void AddReportLines(ReportDecoder& decoder, QByteArrayView bytes, std::vector<QByteArray>& out)
{
    DecodedRead read;
    decoder.Feed(bytes, read);
    for (const DecodedReport& report : read.reports)
        if (report.event)
            out.push_back(report.Text().toByteArray());
}

void CheckReportLines(QByteArrayView stream, int step)
{
    ReportDecoder whole;
    std::vector<QByteArray> wholeLines;
    AddReportLines(whole, stream, wholeLines);
    ReportDecoder pieces;
    std::vector<QByteArray> pieceLines;
    for (qsizetype at = 0; at < stream.size(); at += step)
        AddReportLines(pieces, stream.sliced(at, std::min<qsizetype>(step, stream.size() - at)),
                       pieceLines);
    FUZZ_CHECK(wholeLines == pieceLines);
    for (const QByteArray& line : wholeLines)
        FUZZ_CHECK(line.startsWith('$') && !line.contains('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzData input(data, size);
    const std::uint8_t mode = input.Mode();
    switch (mode % 3) {
    case 0:
        CheckScript(input.Rest());
        break;
    case 1: {
        const QByteArrayView pattern = input.Field('\0');
        CheckPattern(pattern, input.Rest());
        break;
    }
    default:
        CheckReportLines(input.Rest(), 1 + mode / 3 % 16);
        break;
    }
    return 0;
}
