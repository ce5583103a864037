#pragma once

#include "script/RunCounts.h"
#include "script/RunSink.h"
#include "script/ScriptRunner.h"
#include "scriptformat/Script.h"
#include "support/RandomSource.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class CMSComm;
class VirtualSteps;

// What every port of a run does alike.
struct RunSettings
{
    int rounds = 1;         // each script runs this often, all of them in order each round
    bool failFast = false;  // the first failed step ends the run
    int promptMs = 0;       // virtual-only steps are left to a person this long; 0: they fail
    QString picturesFolder; // where a failed screen step leaves its pictures; empty: here
    ReferenceUpdate referenceUpdate = ReferenceUpdate::None; // screens written as references
};

// The scripts, round after round, on one open port with a runner of its own, told to a sink as
// they go. The run ends when every round ran, or early: at a failed step under fail-fast (here
// or, through StopForFailFast(), on another port), when the port is lost, or on a signal; the
// scripts of that round not yet run are then listed as not run. At its end it closes its port.
// Nothing is printed or written here.
class PortRun : public QObject
{
    Q_OBJECT

public:
    // `scripts` and `comm` stay for the length of the run; `label` names the port ("COM7", a
    // device's path, "virtual"); `seed` starts the random piece sizes of its sends.
    PortRun(const QString& label, const std::vector<Script>& scripts, const RunSettings& settings,
            CMSComm& comm, VirtualSteps* module, RunSink& sink, std::uint32_t seed,
            QObject* parent = nullptr);
    ~PortRun() override;

    const QString& Label() const { return m_label; }
    // One of several ports that run the same scripts: the suites' names carry the port.
    void SetOneOfSeveral(bool several) { m_oneOfSeveral = several; }
    bool IsOneOfSeveral() const { return m_oneOfSeveral; }
    const std::vector<Script>& Scripts() const { return m_scripts; }
    const RunSettings& Settings() const { return m_settings; }

    // Starts the first script; returns at once.
    void Begin();
    // A signal: the running step and everything after it are skipped.
    void Interrupt(int signal);
    // Another port's step failed under fail-fast: this port's run ends as its own would.
    void StopForFailFast(const QString& failedPort);

    bool IsFinished() const { return m_finished; }
    // The steps so far, those listed as not run included.
    const RunCounts& Counts() const { return m_counts; }
    RunEnd End() const { return m_end; }
    int ExitStatus() const { return RunExitStatus(m_counts, m_end, m_signal); }

private:
    void StartNext();
    void EndEarly(RunEnd end, const QString& reason);
    void OnFinished(ScriptRunner::Outcome outcome);
    void Finish();
    SuiteRun Suite(std::size_t scriptIndex) const;

    const QString m_label;
    const std::vector<Script>& m_scripts;
    const RunSettings m_settings;
    CMSComm& m_comm;
    RunSink& m_sink;
    SeededRandom m_rng;
    ScriptRunner m_runner;
    bool m_oneOfSeveral = false;

    std::optional<SuiteRun> m_suite; // the script run under way
    std::size_t m_scriptIndex = 0;
    int m_round = 1;
    std::chrono::steady_clock::time_point m_started;
    RunCounts m_counts;
    RunEnd m_end = RunEnd::Completed;
    QString m_endReason; // why the scripts not run were not
    bool m_finished = false;
    int m_signal = 0;
};
