#include "results/HtmlReport.h"

#include "results/LatencyStats.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>

namespace {

const char* const kStyle =
    "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}"
    "h1{font-size:1.5em}h2{font-size:1.25em;margin-top:2em;border-bottom:1px solid #ccc}"
    "h3{font-size:1.05em;margin:1em 0 .3em}"
    "table{border-collapse:collapse;margin:.5em 0}"
    "th,td{padding:2px 8px;border-bottom:1px solid #e4e4e4;text-align:left;vertical-align:top}"
    // Numbers right-aligned by column rather than by a class on each of thousands of cells.
    ".n,.summary td:nth-child(n+3),.changes td:nth-child(n+4),.latency td:nth-child(n+3),"
    ".steps td:nth-child(1),.steps td:nth-child(n+4):nth-child(-n+6)"
    "{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}"
    "code,pre{font:12px/1.35 ui-monospace,monospace}"
    "pre{white-space:pre-wrap;overflow-wrap:anywhere;background:#f6f6f6;padding:6px;margin:.3em 0}"
    ".passed{color:#176f2c}.failed{color:#b00020;font-weight:bold}.skipped{color:#777}"
    "tr.failed td{background:#fff0f0}.slower,.newly{color:#b00020}.faster{color:#176f2c}"
    ".x{color:#a0a;background:#fde}.rp{color:#0645ad}"
    "figure{display:inline-block;margin:4px 8px 4px 0}"
    "img.shot{max-width:30vw;border:1px solid #999}"
    "svg.chart{vertical-align:middle}svg.chart polyline{fill:none;stroke-width:1.5}"
    "svg.chart .now{stroke:#0645ad}svg.chart .base{stroke:#999}"
    "svg.chart line{stroke:#ccc}svg.chart text{font-size:9px;fill:#555}";

QString Hex(unsigned value)
{
    return QStringLiteral("\\x") + QString::number(value, 16).rightJustified(2, u'0').toUpper();
}

// Characters shown by their code instead of themselves: controls, which a browser shows as
// nothing or a blank, and the bidirectional overrides, which would reorder what a line seems to
// say.
bool IsHidden(QChar c)
{
    const char16_t u = c.unicode();
    return (c.category() == QChar::Other_Control && u != u'\t') || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

QString Code(QChar c)
{
    return c.unicode() < 0x100 ? Hex(c.unicode())
                               : QStringLiteral("\\u") + QString::number(c.unicode(), 16).toUpper();
}

QString Attr(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\'':
            out += u"&#39;";
            break;
        default:
            out += IsHidden(c) ? QChar(u'\uFFFD') : c;
        }
    }
    return out;
}

void AppendMarked(QString& out, const QString& marked)
{
    out += u"<span class=x>";
    out += marked;
    out += u"</span>";
}

QString Ms(double ms)
{
    return FormatMs(ms);
}

QString Seconds(double ms)
{
    return QString::number(ms / 1000, 'f', 3) + QStringLiteral(" s");
}

// "1 port", "2 ports".
QString Plural(std::size_t count, const char* thing)
{
    return QStringLiteral("%1 %2%3").arg(QString::number(count), QLatin1String(thing),
                                         count == 1 ? QString() : QStringLiteral("s"));
}

// A script run's place in the page.
QString RunAnchor(std::size_t index)
{
    return QStringLiteral("run-%1").arg(index);
}

struct Counts
{
    int passed = 0;
    int failed = 0;
    int skipped = 0;

    void Add(StepStatus status)
    {
        ++(status == StepStatus::Passed ? passed : status == StepStatus::Failed ? failed : skipped);
    }
    QString Words() const
    {
        return QStringLiteral("%1 passed, %2 failed, %3 skipped")
            .arg(passed)
            .arg(failed)
            .arg(skipped);
    }
};

Counts CountRun(const RunResults& results, const ScriptRun& run)
{
    Counts counts;
    const ScriptInfo* script = FindScript(results, run.script);
    for (const StepRun& step : run.steps) {
        const StepInfo* info = script ? FindStep(*script, step.line) : nullptr;
        if (info && CountsInSummary(*info, step))
            counts.Add(step.status);
    }
    return counts;
}

QString StatusCell(StepStatus status)
{
    const QString name = StatusName(status);
    return QStringLiteral("<td class=%1>%1").arg(name);
}

// Latencies as a polyline in a box from x to x + width, values from 0 (at the bottom) to top.
QString Polyline(const std::vector<double>& samples, double x, double width, double top,
                 const char* cssClass)
{
    if (samples.empty())
        return {};
    QString points;
    const double bottom = 52, height = 44;
    const auto y = [&](double ms) { return bottom - std::clamp(ms / top, 0.0, 1.0) * height; };
    if (samples.size() == 1) {
        const QString at = QString::number(y(samples[0]), 'f', 1);
        points = QStringLiteral("%1,%2 %3,%2")
                     .arg(QString::number(x + width / 2 - 3, 'f', 1), at,
                          QString::number(x + width / 2 + 3, 'f', 1));
    } else {
        const double step = width / static_cast<double>(samples.size() - 1);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (i)
                points += u' ';
            points += QString::number(x + step * static_cast<double>(i), 'f', 1);
            points += u',';
            points += QString::number(y(samples[i]), 'f', 1);
        }
    }
    return QStringLiteral("<polyline class=%1 points=\"%2\"/>")
        .arg(QLatin1String(cssClass), points);
}

// The latencies of a step across its runs; with a baseline, the baseline's on the left.
QString Chart(const std::vector<double>& before, const std::vector<double>& after, bool baseline)
{
    double top = 1;
    for (const double ms : before)
        top = std::max(top, ms);
    for (const double ms : after)
        top = std::max(top, ms);
    top = std::isfinite(top) ? top : 1;
    const int width = baseline ? 250 : 120;
    QString label = QStringLiteral("latency of %1 runs").arg(after.size());
    if (baseline)
        label += QStringLiteral(" beside %1 runs of the baseline").arg(before.size());
    label += QStringLiteral(", 0 to %1 ms").arg(Ms(top));
    QString svg = QStringLiteral("<svg class=chart width=%1 height=64 viewBox=\"0 0 %1 64\" "
                                 "role=img aria-label=\"%2\"><title>%2</title>"
                                 "<line x1=0 y1=52 x2=%1 y2=52 />"
                                 "<text x=2 y=9>%3 ms</text>")
                      .arg(QString::number(width), label, Ms(top));
    if (baseline) {
        svg += Polyline(before, 4, 110, top, "base");
        svg += QStringLiteral("<text x=4 y=62>baseline</text><text x=134 y=62>now</text>");
        svg += Polyline(after, 134, 110, top, "now");
    } else {
        svg += Polyline(after, 4, 110, top, "now");
    }
    svg += u"</svg>";
    return svg;
}

// The PNG file as a data: URI; empty, with the reason, when it cannot be shown.
QString PictureUri(const QString& path, QString& why)
{
    const QFileInfo info(path);
    // A results file from elsewhere may name a device or a huge file; neither is read.
    if (!info.isFile()) {
        why = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("missing");
        return {};
    }
    if (info.size() > kMostPictureBytes) {
        why = QStringLiteral("larger than %1 MiB").arg(kMostPictureBytes >> 20);
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return {};
    }
    const QByteArray png = file.read(kMostPictureBytes);
    if (!png.startsWith("\x89PNG\r\n\x1a\n")) {
        why = QStringLiteral("not a PNG file");
        return {};
    }
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

class Page
{
public:
    Page(const RunResults& run, const RunResults* baseline, const BaselineOptions& options)
        : m_run(run), m_baseline(baseline)
    {
        if (baseline)
            m_comparison = CompareWithBaseline(*baseline, run, options);
        for (const StepComparison& step : m_comparison.steps)
            m_compared.insert(Key(step.script, step.step.line), &step);
        for (const ScriptRun& scriptRun : run.runs)
            if (!m_ports.contains(scriptRun.port))
                m_ports << scriptRun.port;
    }

    QString Write()
    {
        m_out.reserve(1 << 20);
        Head();
        Contents();
        Summary();
        if (m_baseline)
            Changes();
        Latency();
        for (std::size_t i = 0; i < m_run.runs.size(); ++i)
            Run(i);
        m_out += u"</body></html>\n";
        return std::move(m_out);
    }

private:
    static QString Key(const QString& script, int line)
    {
        return script + u'\n' + QString::number(line);
    }

    void Head()
    {
        const QString when =
            m_run.started.isValid()
                ? m_run.started.toUTC().toString(u"yyyy-MM-dd HH:mm:ss") + QStringLiteral(" UTC")
                : QStringLiteral("(no start time)");
        m_out += u"<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>\n"
                 u"<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                 u"img-src data:; style-src 'unsafe-inline'\">\n"
                 u"<meta name=viewport content=\"width=device-width, initial-scale=1\">\n";
        m_out += QStringLiteral("<title>Test run %1</title>\n<style>").arg(HtmlText(when));
        m_out += QLatin1String(kStyle);
        m_out +=
            QStringLiteral("</style></head>\n<body>\n<h1>Test run %1</h1>\n").arg(HtmlText(when));
        Counts total;
        // Ports run side by side: the time is the span of all runs, not their sum.
        double first = 0, last = 0;
        for (const ScriptRun& run : m_run.runs) {
            const Counts counts = CountRun(m_run, run);
            total.passed += counts.passed;
            total.failed += counts.failed;
            total.skipped += counts.skipped;
            first = &run == &m_run.runs.front() ? run.startMs : std::min(first, run.startMs);
            last = std::max(last, run.endMs);
        }
        m_out += QStringLiteral("<p id=totals>%1; %2 on %3 in %4</p>\n")
                     .arg(total.Words(), Plural(m_run.runs.size(), "script run"),
                          Plural(m_ports.size(), "port"), Seconds(last - first));
    }

    void Contents()
    {
        m_out += u"<nav><h2>Contents</h2><ul><li><a href=\"#summary\">Summary</a>";
        if (m_baseline)
            m_out += u"<li><a href=\"#baseline\">Changes since the baseline</a>";
        m_out += u"<li><a href=\"#latency\">Latency</a>";
        for (const QString& port : m_ports) {
            m_out += QStringLiteral("<li>Port %1<ul>").arg(HtmlText(port));
            for (std::size_t i = 0; i < m_run.runs.size(); ++i) {
                const ScriptRun& run = m_run.runs[i];
                if (run.port != port)
                    continue;
                const Counts counts = CountRun(m_run, run);
                m_out +=
                    QStringLiteral("<li><a href=\"#%1\">%2, round %3</a> <span class=%4>%4</span>")
                        .arg(RunAnchor(i), HtmlText(run.script), QString::number(run.repeat),
                             counts.failed ? QStringLiteral("failed") : QStringLiteral("passed"));
            }
            m_out += u"</ul>";
        }
        m_out += u"</ul></nav>\n";
    }

    void Summary()
    {
        m_out += u"<h2 id=summary>Summary</h2>\n<table class=summary><tr><th>Port<th>Script"
                 u"<th class=n>Runs<th class=n>Passed<th class=n>Failed<th class=n>Skipped"
                 u"<th class=n>Duration\n";
        struct Row
        {
            QString port, script;
            int runs = 0;
            Counts counts;
            double ms = 0;
        };
        std::vector<Row> rows;
        QHash<QString, std::size_t> index;
        for (const ScriptRun& run : m_run.runs) {
            const QString key = run.port + u'\n' + run.script;
            if (!index.contains(key)) {
                index.insert(key, rows.size());
                rows.push_back(Row{run.port, run.script, 0, {}, 0});
            }
            Row& row = rows[index[key]];
            const Counts counts = CountRun(m_run, run);
            ++row.runs;
            row.counts.passed += counts.passed;
            row.counts.failed += counts.failed;
            row.counts.skipped += counts.skipped;
            row.ms += run.endMs - run.startMs;
        }
        for (const Row& row : rows)
            m_out +=
                QStringLiteral("<tr%1><td>%2<td>%3<td>%4<td>%5"
                               "<td>%6<td>%7<td>%8\n")
                    .arg(row.counts.failed ? QStringLiteral(" class=failed") : QString(),
                         HtmlText(row.port), HtmlText(row.script), QString::number(row.runs),
                         QString::number(row.counts.passed), QString::number(row.counts.failed),
                         QString::number(row.counts.skipped), Seconds(row.ms));
        m_out += u"</table>\n";
    }

    QString StepCell(const QString& script, const StepInfo& step)
    {
        return QStringLiteral("<td>%1:%2<td><code>%3</code>")
            .arg(HtmlText(script), QString::number(step.line), HtmlText(step.source));
    }

    void Changes()
    {
        m_out += u"<h2 id=baseline>Changes since the baseline</h2>\n";
        for (const QString& note : m_comparison.notes)
            m_out += QStringLiteral("<p>%1</p>\n").arg(HtmlText(note));
        const bool any = std::any_of(m_comparison.steps.begin(), m_comparison.steps.end(),
                                     [](const StepComparison& s) { return s.IsNews(); });
        if (!any) {
            m_out += u"<p>No step changed.</p>\n";
            return;
        }
        m_out += u"<table class=changes><tr><th>Change<th>Where<th>Step<th class=n>p50 was"
                 u"<th class=n>now<th class=n>p95 was<th class=n>now<th class=n>Change\n";
        for (const StepComparison& step : m_comparison.steps) {
            if (!step.IsNews())
                continue;
            const LatencySummary& b = step.beforeSummary;
            const LatencySummary& a = step.afterSummary;
            const auto cell = [](const LatencySummary& l, double ms) {
                return QStringLiteral("<td>%1").arg(l.count ? Ms(ms) : QStringLiteral("-"));
            };
            QString change = QStringLiteral("-");
            if (step.match == StepComparison::Match::Both && b.count && a.count) {
                const double delta = a.p50 - b.p50;
                change = (delta < 0 ? QString() : QStringLiteral("+")) + Ms(delta) +
                         QStringLiteral(" ms");
                if (b.p50 > 0)
                    change += QStringLiteral(" (%1%2%)")
                                  .arg(delta < 0 ? QString() : QStringLiteral("+"))
                                  .arg(QString::number(delta / b.p50 * 100, 'f', 0));
            }
            QString css = QStringLiteral("same");
            if (step.latency == StepComparison::Latency::Slower)
                css = QStringLiteral("slower");
            else if (step.status != StepComparison::Status::Same)
                css = QStringLiteral("newly");
            else if (step.latency == StepComparison::Latency::Faster)
                css = QStringLiteral("faster");
            QString source = HtmlText(step.step.source);
            if (step.match == StepComparison::Match::Changed)
                source += QStringLiteral("</code> (was <code>%1</code>)")
                              .arg(HtmlText(step.baselineSource));
            else
                source += u"</code>";
            m_out += QStringLiteral("<tr><td class=%1>%2<td>%3:%4<td><code>%5")
                         .arg(css, HtmlText(ChangeWords(step)), HtmlText(step.script),
                              QString::number(step.step.line), source);
            m_out += cell(b, b.p50) + cell(a, a.p50) + cell(b, b.p95) + cell(a, a.p95) +
                     QStringLiteral("<td>%1\n").arg(change);
        }
        m_out += u"</table>\n";
    }

    void Latency()
    {
        m_out += u"<h2 id=latency>Latency</h2>\n";
        const std::vector<StepSummary> steps = SummarizeSteps(m_run);
        const bool any = std::any_of(steps.begin(), steps.end(),
                                     [](const StepSummary& s) { return s.step.kind == u"expect"; });
        if (!any) {
            m_out += u"<p>No expect step.</p>\n";
            return;
        }
        m_out += u"<p>Per expect step, in ms, over every run that passed.</p>\n"
                 u"<table class=latency><tr><th>Where<th>Step<th class=n>Runs<th class=n>min"
                 u"<th class=n>p50<th class=n>p95<th class=n>max";
        if (m_baseline)
            m_out += u"<th class=n>p50 was<th class=n>p95 was";
        m_out += u"<th>Runs in order\n";
        for (const StepSummary& summary : steps) {
            if (summary.step.kind != u"expect")
                continue;
            const LatencySummary l = SummarizeLatencies(summary.latencies);
            const auto cell = [&](double ms) {
                return QStringLiteral("<td>%1").arg(l.count ? Ms(ms) : QStringLiteral("-"));
            };
            m_out += QStringLiteral("<tr>") + StepCell(summary.script, summary.step) +
                     QStringLiteral("<td>%1").arg(l.count) + cell(l.min) + cell(l.p50) +
                     cell(l.p95) + cell(l.max);
            const StepComparison* compared =
                m_compared.value(Key(summary.script, summary.step.line), nullptr);
            const bool matched = compared && compared->match == StepComparison::Match::Both;
            static const std::vector<double> none;
            const std::vector<double>& before = matched ? compared->before : none;
            if (m_baseline) {
                const LatencySummary b = SummarizeLatencies(before);
                const QString dash = QStringLiteral("-");
                m_out += QStringLiteral("<td>%1<td>%2")
                             .arg(b.count ? Ms(b.p50) : dash, b.count ? Ms(b.p95) : dash);
            }
            m_out += u"<td>";
            if (summary.latencies.size() >= 2 || before.size() >= 2)
                m_out += Chart(before, summary.latencies, m_baseline != nullptr);
            m_out += u'\n';
        }
        m_out += u"</table>\n";
    }

    void Run(std::size_t index)
    {
        const ScriptRun& run = m_run.runs[index];
        const ScriptInfo* script = FindScript(m_run, run.script);
        const Counts counts = CountRun(m_run, run);
        m_out += QStringLiteral("<section id=%1><h2>Port %2: %3, round %4</h2>\n"
                                "<p>%5; from %6 ms to %7 ms after the start (%8).</p>\n")
                     .arg(RunAnchor(index), HtmlText(run.port), HtmlText(run.script),
                          QString::number(run.repeat), counts.Words(), Ms(run.startMs),
                          Ms(run.endMs), Seconds(run.endMs - run.startMs));
        m_out += u"<table class=steps><tr><th class=n>Line<th>Step<th>Status<th class=n>Latency"
                 u"<th class=n>Start<th class=n>Took<th>Reason\n";
        std::vector<const StepRun*> failures;
        for (const StepRun& step : run.steps) {
            const StepInfo* info = script ? FindStep(*script, step.line) : nullptr;
            m_out +=
                QStringLiteral("<tr%1><td>%2<td><code>%3</code>")
                    .arg(step.status == StepStatus::Failed ? QStringLiteral(" class=failed")
                                                           : QString(),
                         QString::number(step.line), info ? HtmlText(info->source) : QString());
            m_out += StatusCell(step.status);
            m_out += QStringLiteral("<td>%1<td>%2<td>%3<td>%4\n")
                         .arg(step.latencyMs >= 0 ? Ms(step.latencyMs) : QString(),
                              Ms(step.startMs - run.startMs), Ms(step.endMs - step.startMs),
                              HtmlText(step.reason));
            if (step.status == StepStatus::Failed)
                failures.push_back(&step);
        }
        m_out += u"</table>\n";
        for (const StepRun* step : failures)
            Failure(script, *step);
        Transcript(run, script);
        m_out += u"</section>\n";
    }

    void Failure(const ScriptInfo* script, const StepRun& step)
    {
        const StepInfo* info = script ? FindStep(*script, step.line) : nullptr;
        m_out += QStringLiteral("<div class=failure><h3>Line %1 failed: <code>%2</code></h3>"
                                "<p>%3</p>\n")
                     .arg(QString::number(step.line), info ? HtmlText(info->source) : QString(),
                          HtmlText(step.reason));
        if (!step.reportsSeen.empty()) {
            m_out += QStringLiteral("<p>The last %1 reports seen:</p><pre>")
                         .arg(step.reportsSeen.size());
            for (const QByteArray& report : step.reportsSeen)
                m_out += HtmlBytes(report) + u'\n';
            m_out += u"</pre>\n";
        }
        const std::pair<const char16_t*, const QString*> pictures[] = {
            {u"reference", &step.pictures.reference},
            {u"actual", &step.pictures.actual},
            {u"difference", &step.pictures.difference},
        };
        for (const auto& [name, path] : pictures) {
            if (path->isEmpty())
                continue;
            QString why;
            const QString uri = PictureUri(*path, why);
            const QString word = QString::fromUtf16(name);
            if (uri.isEmpty())
                m_out += QStringLiteral("<p class=failed>The %1 picture %2: %3</p>\n")
                             .arg(word, HtmlText(*path), HtmlText(why));
            else
                m_out += QStringLiteral("<figure><img class=shot src=\"%1\" alt=\"%2 picture\" "
                                        "title=\"%3\"><figcaption>%2</figcaption></figure>")
                             .arg(uri, word, Attr(*path));
        }
        m_out += u"</div>\n";
    }

    void Transcript(const ScriptRun& run, const ScriptInfo* script)
    {
        if (run.transcript.empty())
            return;
        const bool failed = std::any_of(run.steps.begin(), run.steps.end(), [](const StepRun& s) {
            return s.status == StepStatus::Failed;
        });
        m_out += QStringLiteral("<details%1><summary>Transcript, %2 lines (ms from the start of "
                                "this run)</summary><pre class=transcript>")
                     .arg(failed ? QStringLiteral(" open") : QString())
                     .arg(run.transcript.size());
        for (const TranscriptEntry& entry : run.transcript) {
            m_out += Ms(entry.atMs - run.startMs).rightJustified(10) + QStringLiteral("  ");
            const StepInfo* info = script ? FindStep(*script, entry.line) : nullptr;
            switch (entry.kind) {
            case TranscriptEntry::Kind::Sent:
                m_out += QStringLiteral("sent    ") + HtmlBytes(entry.text);
                break;
            case TranscriptEntry::Kind::Report:
                m_out += QStringLiteral("<span class=rp>report  ") + HtmlBytes(entry.text) +
                         QStringLiteral("</span>");
                break;
            case TranscriptEntry::Kind::StepStart:
                m_out += QStringLiteral("start   line %1: %2")
                             .arg(QString::number(entry.line),
                                  info ? HtmlText(info->source) : QString());
                break;
            case TranscriptEntry::Kind::StepEnd: {
                // Step runs are in line order.
                const auto found =
                    std::lower_bound(run.steps.begin(), run.steps.end(), entry.line,
                                     [](const StepRun& s, int line) { return s.line < line; });
                const QString status = found == run.steps.end() || found->line != entry.line
                                           ? QString()
                                           : StatusName(found->status);
                // Only a failure stands out: a long run has thousands of these lines.
                m_out += QStringLiteral("end     line %1: %2")
                             .arg(QString::number(entry.line),
                                  status == u"failed"
                                      ? QStringLiteral("<span class=failed>failed</span>")
                                      : status);
                break;
            }
            case TranscriptEntry::Kind::Note:
                m_out += QStringLiteral("note    ") + HtmlBytes(entry.text);
                break;
            }
            m_out += u'\n';
        }
        m_out += u"</pre></details>\n";
    }

    const RunResults& m_run;
    const RunResults* m_baseline;
    BaselineComparison m_comparison;
    QHash<QString, const StepComparison*> m_compared;
    QStringList m_ports;
    QString m_out;
};

} // namespace

QString HtmlText(QStringView text)
{
    QString out;
    out.reserve(text.size() + 8);
    QString marked;
    const auto flush = [&] {
        if (!marked.isEmpty())
            AppendMarked(out, marked);
        marked.clear();
    };
    for (const QChar c : text) {
        if (IsHidden(c)) {
            marked += Code(c);
            continue;
        }
        flush();
        switch (c.unicode()) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\'':
            out += u"&#39;";
            break;
        default:
            out += c;
        }
    }
    flush();
    return out;
}

QString HtmlBytes(QByteArrayView bytes)
{
    QString out;
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = at;
        for (int length = 0; end < bytes.size() && (length = Utf8CharLength(bytes.sliced(end)));)
            end += length;
        if (end > at)
            out += HtmlText(QString::fromUtf8(bytes.sliced(at, end - at)));
        QString marked;
        for (; end < bytes.size() && Utf8CharLength(bytes.sliced(end)) == 0; ++end)
            marked += Hex(static_cast<unsigned char>(bytes[end]));
        if (!marked.isEmpty())
            AppendMarked(out, marked);
        at = end;
    }
    return out;
}

QByteArray ReportHtml(const RunResults& run, const RunResults* baseline,
                      const BaselineOptions& options)
{
    return Page(run, baseline, options).Write().toUtf8();
}
