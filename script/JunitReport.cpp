#include "script/JunitReport.h"

#include "results/LatencyStats.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

using State = StepResult::State;

constexpr QByteArrayView kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
constexpr QByteArrayView kTail = "</testsuites>\n";

// XML 1.0 cannot carry most control characters, not even escaped; a script or a report may
// hold them. In an attribute, line ends and tabs are written as references, or a reader would
// turn them into blanks.
QByteArray Escaped(const QString& text, bool attribute)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'&')
            out += QLatin1String("&amp;");
        else if (u == u'<')
            out += QLatin1String("&lt;");
        else if (u == u'>')
            out += QLatin1String("&gt;");
        else if (u == u'"' && attribute)
            out += QLatin1String("&quot;");
        else if ((u == u'\n' || u == u'\r' || u == u'\t') && attribute)
            out += QStringLiteral("&#%1;").arg(int(u));
        else if ((u < 0x20 && u != u'\n' && u != u'\r' && u != u'\t') || u == 0xFFFE || u == 0xFFFF)
            out += u'?';
        else
            out += c;
    }
    return out.toUtf8();
}

QByteArray Attribute(const char* name, const QString& value)
{
    return ' ' + QByteArray(name) + "=\"" + Escaped(value, true) + '"';
}

QString Seconds(double ms)
{
    return QString::number(ms / 1000.0, 'f', 3);
}

} // namespace

JunitSuite::JunitSuite(const Script& script, const QString& name)
    : m_script(script), m_name(name), m_className(QFileInfo(script.path).completeBaseName())
{}

void JunitSuite::Case(const ScriptStep& step, double ms)
{
    ++m_tests;
    m_cases +=
        "    <testcase" + Attribute("classname", m_className) +
        Attribute("name", QStringLiteral("line %1: %2").arg(step.line).arg(m_script.Source(step))) +
        Attribute("time", Seconds(ms));
}

void JunitSuite::Add(int index, const StepResult& result)
{
    const ScriptStep& step = m_script.steps[static_cast<std::size_t>(index)];
    if (!step.IsTest() && result.state != State::Failed)
        return;
    Case(step, result.elapsedMs);
    if (result.state == State::Passed) {
        m_cases += "/>\n";
        return;
    }
    m_cases += ">\n";
    if (result.state == State::Failed) {
        const char* element = step.IsTest() ? "failure" : "error";
        ++(step.IsTest() ? m_failures : m_errors);
        QString text;
        if (step.kind == ScriptStep::Kind::Expect || step.kind == ScriptStep::Kind::ExpectNone)
            text += QStringLiteral("expected: %1\n").arg(QString::fromUtf8(m_script.Pattern(step)));
        text += QStringLiteral("reports seen (last %1):\n").arg(result.reportsSeen.size());
        for (const QByteArray& report : result.reportsSeen)
            text += QStringLiteral("  %1\n").arg(QString::fromUtf8(report));
        m_cases += "      <" + QByteArray(element) + Attribute("message", result.reason) + '>' +
                   Escaped(text, false) + "</" + element + ">\n";
    } else {
        ++m_skipped;
        m_cases += "      <skipped" +
                   (result.reason.isEmpty() ? QByteArray() : Attribute("message", result.reason)) +
                   "/>\n";
    }
    m_cases += "    </testcase>\n";
}

void JunitSuite::AddSkipped(int first, int count, const QString& reason)
{
    StepResult skipped;
    skipped.state = State::Skipped;
    skipped.reason = reason;
    for (int i = first; i < first + count; ++i)
        Add(i, skipped);
}

QByteArray JunitSuite::Finish(double seconds) const
{
    return "  <testsuite" + Attribute("name", m_name) +
           Attribute("tests", QString::number(m_tests)) +
           Attribute("failures", QString::number(m_failures)) +
           Attribute("errors", QString::number(m_errors)) +
           Attribute("skipped", QString::number(m_skipped)) +
           Attribute("time", QString::number(seconds, 'f', 3)) + ">\n" + m_cases +
           "  </testsuite>\n";
}

bool JunitFile::Open(QString* error)
{
    return m_file.Open(error) && m_file.Write(kHead, error);
}

bool JunitFile::Add(const QByteArray& suite, QString* error)
{
    return m_file.Write(suite, error);
}

bool JunitFile::Commit(QString* error)
{
    return m_file.Write(kTail, error) && m_file.Commit(error);
}

QByteArray JunitLatencySuite(
    const std::vector<std::pair<std::pair<QString, int>, std::vector<double>>>& latencies)
{
    QByteArray properties;
    for (const auto& [step, samples] : latencies) {
        if (samples.empty())
            continue;
        const LatencySummary summary = SummarizeLatencies(samples);
        const QString name = QStringLiteral("%1:%2").arg(step.first).arg(step.second);
        for (const auto& [suffix, ms] :
             {std::pair{" p50_ms", summary.p50}, {" p95_ms", summary.p95}})
            properties += "      <property" + Attribute("name", name + QLatin1String(suffix)) +
                          Attribute("value", FormatMs(ms)) + "/>\n";
    }
    if (properties.isEmpty())
        return {};
    return "  <testsuite" + Attribute("name", QStringLiteral("orvexa-run latency")) +
           " tests=\"0\" failures=\"0\" errors=\"0\" skipped=\"0\" time=\"0.000\">\n"
           "    <properties>\n" +
           properties + "    </properties>\n  </testsuite>\n";
}

QByteArray JunitErrorReport(const QString& name, const QStringList& errors)
{
    QByteArray xml = kHead.toByteArray();
    xml += "  <testsuite" + Attribute("name", name) +
           Attribute("tests", QString::number(errors.size())) + Attribute("failures", "0") +
           Attribute("errors", QString::number(errors.size())) + Attribute("skipped", "0") + ">\n";
    for (const QString& error : errors)
        xml += "    <testcase" + Attribute("classname", name) + Attribute("name", error) +
               ">\n      <error" + Attribute("message", error) + "/>\n    </testcase>\n";
    return xml + "  </testsuite>\n" + kTail.toByteArray();
}

QString ScriptAt(const QString& path, const QStringList& scripts)
{
    struct stat target = {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return {};
    for (const QString& script : scripts) {
        struct stat info = {};
        if (::stat(QFile::encodeName(script).constData(), &info) == 0 &&
            info.st_dev == target.st_dev && info.st_ino == target.st_ino)
            return script;
    }
    return {};
}

QString OutputFileFault(const QString& path, const QStringList& scripts)
{
    QString fault;
    if (!IsReplaceableFile(path, &fault))
        return fault;
    if (const QString script = ScriptAt(path, scripts); !script.isEmpty())
        return QStringLiteral("it is the script \"%1\"").arg(script);
    return {};
}

bool PrepareJunitFile(const QString& path, const QStringList& scripts, QString* error)
{
    const auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QString fault = OutputFileFault(path, scripts);
    if (!fault.isEmpty())
        return refuse(fault);
    if (ReplaceFileWhole(path,
                         JunitErrorReport(QStringLiteral("orvexa-run"),
                                          {QStringLiteral("the run did not finish, so it wrote "
                                                          "no results")}),
                         &fault))
        return true;
    return refuse(QFileInfo(path).isFile()
                      ? fault + QStringLiteral("; the file is left as it was, from an earlier run")
                      : fault);
}

JunitSink::JunitSink(const QString& path)
{
    m_file.emplace(path);
    if (!m_file->Open(&m_error))
        m_file.reset();
}

void JunitSink::SuiteStarted(const PortRun& port, const SuiteRun& suite)
{
    m_running.erase(&port);
    m_running.try_emplace(&port, suite.script, suite.name);
}

void JunitSink::StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                             const StepResult& result)
{
    m_running.at(&port).Add(index, result);
    if (result.state != State::Passed || result.latencyMs < 0)
        return;
    const int line = suite.script.steps[static_cast<std::size_t>(index)].line;
    m_scriptPaths.try_emplace(suite.scriptIndex, suite.script.path);
    m_latencies[{suite.scriptIndex, line}].push_back(result.latencyMs);
}

void JunitSink::StepsSkipped(const PortRun& port, const SuiteRun& /*suite*/, int first, int count,
                             const QString& reason)
{
    m_running.at(&port).AddSkipped(first, count, reason);
}

void JunitSink::SuiteFinished(const PortRun& port, const SuiteRun& /*suite*/,
                              ScriptRunner::Outcome /*outcome*/, const RunCounts& /*counts*/,
                              double seconds)
{
    const auto running = m_running.find(&port);
    Add(running->second.Finish(seconds));
    m_running.erase(running);
}

void JunitSink::SuiteNotRun(const PortRun& /*port*/, const SuiteRun& suite, const QString& reason)
{
    JunitSuite skipped(suite.script, suite.name);
    skipped.AddSkipped(0, static_cast<int>(suite.script.steps.size()), reason);
    Add(skipped.Finish(0));
}

void JunitSink::Add(const QByteArray& suite)
{
    if (m_file && !m_file->Add(suite, &m_error))
        m_file.reset();
}

bool JunitSink::Commit(QString* error)
{
    std::vector<std::pair<std::pair<QString, int>, std::vector<double>>> latencies;
    for (auto& [key, samples] : m_latencies)
        latencies.push_back({{m_scriptPaths.at(key.first), key.second}, std::move(samples)});
    m_latencies.clear();
    if (const QByteArray suite = JunitLatencySuite(latencies); !suite.isEmpty())
        Add(suite);
    if (m_file && !m_file->Commit(&m_error))
        m_file.reset();
    if (m_file)
        return true;
    if (error)
        *error = m_error;
    return false;
}
