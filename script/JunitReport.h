#pragma once

#include "script/RunSink.h"
#include "script/ScriptRunner.h"
#include "scriptformat/Script.h"
#include "support/FileReplace.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <utility>
#include <vector>

// JUnit XML as CI systems read it: a test suite per script run, a test case per expect,
// expect-none or screen step (and per other step that failed, as an error), with its time; a
// failure carries the reason, the expected pattern and the reports seen; steps not run are
// skipped.

// One run of one script as a test suite, made as the steps finish: nothing of a step is kept
// but the XML that shows it, so a long run, or many, cost no memory per step.
class JunitSuite
{
public:
    JunitSuite(const Script& script, const QString& name);

    void Add(int index, const StepResult& result);
    // `count` steps from `first` on that were not run.
    void AddSkipped(int first, int count, const QString& reason);
    // The <testsuite> element, with the counts of its cases.
    QByteArray Finish(double seconds) const;

private:
    void Case(const ScriptStep& step, double ms);

    const Script& m_script;
    QString m_name;
    QString m_className;
    qint64 m_tests = 0, m_failures = 0, m_errors = 0, m_skipped = 0;
    QByteArray m_cases;
};

// The JUnit file, written suite by suite beside the file it replaces: the file named keeps its
// content until Commit() puts the whole report in its place.
class JunitFile
{
public:
    explicit JunitFile(const QString& path) : m_file(path) {}

    // False, with the cause in `error`, when the report cannot be written; nothing is written
    // after a failure, and it is the one reported.
    bool Open(QString* error);
    bool Add(const QByteArray& suite, QString* error);
    bool Commit(QString* error);

private:
    FileReplacement m_file;
};

// The suite that gives expect steps' latencies as properties, "SCRIPT:LINE p50_ms" and
// "SCRIPT:LINE p95_ms" in ms; `latencies` by script path and line, in order. Empty when no
// expect step passed.
QByteArray JunitLatencySuite(
    const std::vector<std::pair<std::pair<QString, int>, std::vector<double>>>& latencies);

// A whole report with one suite, `name`, whose error test cases are `errors`: for a run that
// ended before its steps could run (a script error, a port that would not open), and, written
// at the start of a run, for one that never got to write its own report.
QByteArray JunitErrorReport(const QString& name, const QStringList& errors);

// The one of `scripts` that is the very file at `path`, by whatever name or link; empty for none.
QString ScriptAt(const QString& path, const QStringList& scripts);

// Why a file the run writes cannot go to `path`: it is one of `scripts` (by whatever name or link),
// or something other than a missing or regular file. Empty when it can.
QString OutputFileFault(const QString& path, const QStringList& scripts);

// Makes `path` ready for a run of `scripts`: refused when it names one of them (by whatever name
// or link) or something other than a regular file; otherwise whatever an earlier run left there
// is replaced at once by a report that says this run did not finish, so that no earlier result
// can pass for this run's, whatever ends it. False, with the reason in `error`, when the path is
// refused or even that report cannot be written; the run should not start then.
bool PrepareJunitFile(const QString& path, const QStringList& scripts, QString* error);

// A run's JUnit file: a suite per script run and port, written as each ends, and the suites the
// run ended before as skipped. The first failure to write is kept, and nothing is written after
// it. The latencies of an expect step are known only when every run of it is over, so they come
// last: a suite "orvexa-run latency" without test cases, whose properties give each expect step
// that passed its p50 and p95 over every port and round ("SCRIPT:LINE p50_ms").
class JunitSink : public RunSink
{
public:
    explicit JunitSink(const QString& path);

    void SuiteStarted(const PortRun& port, const SuiteRun& suite) override;
    void StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                      const StepResult& result) override;
    void StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                      const QString& reason) override;
    void SuiteFinished(const PortRun& port, const SuiteRun& suite, ScriptRunner::Outcome outcome,
                       const RunCounts& counts, double seconds) override;
    void SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason) override;

    // Puts the report in place of the file; false, with the first failure in `error`, when any
    // part of it could not be written, in which case the file is left as it was.
    bool Commit(QString* error);

private:
    void Add(const QByteArray& suite);

    std::optional<JunitFile> m_file;
    // Expect steps' latencies by script and line, in the order of the scripts.
    std::map<std::pair<std::size_t, int>, std::vector<double>> m_latencies;
    std::map<std::size_t, QString> m_scriptPaths;
    QString m_error;
    std::map<const PortRun*, JunitSuite> m_running; // each port's suite under way
};
