// The recording of a virtual module's session, on any bytes received, any reports sent, any
// touches and keys, at any pauses: every line it writes is a comment or a step the script parser
// takes, the sends carry exactly the bytes received, in order, and the expects match the module's
// reports one for one, in order.
#include "fuzz/FuzzData.h"
#include "module/ModuleRecording.h"
#include "report/ReportDecoder.h"
#include "scriptformat/Pattern.h"
#include "scriptformat/Script.h"
#include "support/CodePage.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray script;
    int steps = 0; // lines other than comments
    ModuleRecording recording([&](QByteArrayView line) {
        FUZZ_CHECK(line.size() < kMostLineBytes && !line.contains('\n'));
        script += line.toByteArray() + '\n';
        steps += !line.startsWith('#');
    });
    QByteArray received;
    ReportDecoder reports;
    DecodedRead read;
    std::vector<QByteArray> reportLines; // the texts of the reports of a known code

    // Records of [kind] [pause] [length] [payload...].
    QByteArrayView rest(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qint64 ms = 0;
    while (rest.size() >= 3) {
        const auto kind = static_cast<std::uint8_t>(rest[0]);
        ms += static_cast<std::uint8_t>(rest[1]) * 8; // 0 to 2 s: across every threshold
        // Long payloads in few records, so that a burst can outgrow a send line.
        const qsizetype length = static_cast<std::uint8_t>(rest[2]) * (kind & 0x80 ? 64 : 1);
        const QByteArrayView payload = rest.sliced(3, std::min<qsizetype>(length, rest.size() - 3));
        rest = rest.sliced(3 + payload.size());
        switch (kind % 3) {
        case 0:
            recording.Received(payload, ms);
            received += payload;
            break;
        case 1:
            recording.Reported(payload, ms);
            reports.Feed(payload, read);
            for (const DecodedReport& report : read.reports)
                if (report.event)
                    reportLines.push_back(report.Text().toByteArray());
            break;
        default: {
            const auto at = [&](qsizetype i) {
                return i < payload.size() ? static_cast<std::uint8_t>(payload[i]) : 0;
            };
            ModuleAction action;
            action.kind = static_cast<ModuleAction::Kind>(at(0) % 5);
            action.point = QPoint(at(1) * 3 % 800, at(2) * 2 % 480);
            action.code = at(3);
            action.state = at(4) & 1;
            recording.Acted(action, ms);
            break;
        }
        }
    }
    recording.Finish();

    const ParseOutcome parsed = ParseScript(script);
    FUZZ_CHECK(parsed.errors.empty());
    FUZZ_CHECK(int(parsed.steps.size()) == steps);
    QByteArray sent;
    std::size_t expects = 0;
    for (const ScriptStep& step : parsed.steps) {
        if (step.kind == ScriptStep::Kind::Send)
            sent += ToCp949(parsed.Statement(step));
        else if (step.kind == ScriptStep::Kind::SendHex)
            sent += parsed.HexBytes(step);
        else if (step.kind == ScriptStep::Kind::Expect) {
            FUZZ_CHECK(expects < reportLines.size());
            FUZZ_CHECK(MatchesPattern(parsed.Pattern(step), reportLines[expects]));
            ++expects;
        }
    }
    FUZZ_CHECK(sent == received);
    FUZZ_CHECK(expects == reportLines.size());
    return 0;
}
