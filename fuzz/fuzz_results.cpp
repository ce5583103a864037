// The results file's reader on any bytes: it either reads a run or says why not, leaving nothing
// behind; what it reads it writes back to the same run; a run compared with itself shows no
// change; and the HTML report of any run it reads holds no script and is UTF-8.
#include "fuzz/FuzzData.h"
#include "results/Baseline.h"
#include "results/HtmlReport.h"
#include "results/LatencyStats.h"
#include "results/ResultsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString folder = QStringLiteral("/results");
    RunResults results;
    QString error;
    const bool read = ParseResultsJson(json, folder, results, error);
    FUZZ_CHECK(read == error.isEmpty());
    if (!read) {
        FUZZ_CHECK(results == RunResults{});
        return 0;
    }

    RunResults again;
    FUZZ_CHECK(ParseResultsJson(ResultsJson(results, folder), folder, again, error));
    FUZZ_CHECK(again == results);

    const BaselineComparison self = CompareWithBaseline(results, results);
    FUZZ_CHECK(self.notes.isEmpty());
    for (const StepComparison& step : self.steps)
        FUZZ_CHECK(!step.IsNews());
    LatencyTable(SummarizeSteps(results));

    // Pictures are files; the fuzzer reads none.
    for (ScriptRun& run : results.runs)
        for (StepRun& step : run.steps)
            step.pictures = {};
    const QByteArray html = ReportHtml(results, &results);
    FUZZ_CHECK(IsUtf8(html));
    FUZZ_CHECK(!html.toLower().contains("<script"));
    return 0;
}
