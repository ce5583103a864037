#pragma once

#include "report/ReportDecoder.h"
#include "script/RunCounts.h"
#include "script/ScreenCompare.h"
#include "scriptformat/Script.h"
#include "support/RandomSource.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

#include <deque>
#include <span>
#include <vector>

class CMSComm;
class VirtualSteps;

struct StepResult
{
    enum class State
    {
        Waiting,
        Running,
        Passed,
        Failed,
        Skipped,
    };
    State state = State::Waiting;
    // Expect steps that passed: from the last send (or action on the virtual module) to the
    // arrival of the matching report; -1 for other steps.
    double latencyMs = -1;
    double elapsedMs = 0; // the step's own run time
    QString reason;       // why it failed or was skipped
    // Failed tests: the last report lines seen, oldest first.
    std::vector<QByteArray> reportsSeen;
    // A failed screen step's pictures: the reference, and the actual screen and the difference
    // as written to the pictures folder; empty where there is none.
    QString referencePicture;
    QString actualPicture;
    QString differencePicture;
    // Screen steps: the reference picture the actual screen was written to; empty when none.
    QString referenceWritten;
};

// Runs one script at a time over an open serial control, step by step on the event loop: nothing
// here waits in place, and every wait has a limit. The port stays open after a run, stopped or
// not. With no virtual module, virtual-only steps fail; callers refuse such scripts beforehand
// (FindVirtualOnlyStep). The runner keeps no result per step, as a script may have millions:
// each step's result goes out in StepFinished, the steps a run ends without running in one
// StepsSkipped, and Counts() sums them up.
class ScriptRunner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Passed,   // every step passed
        Failed,   // a step failed; with fail-fast, the rest were skipped
        PortLost, // the port went away (or was closed); the running step failed, the rest skipped
        Stopped,  // Stop(): the running step and the rest skipped
    };

    // Reports kept for a failure's account.
    static constexpr std::size_t kReportsShown = 10;
    // Report lines waiting for an expect beyond this are dropped, oldest first, so a module that
    // floods reports cannot fill memory.
    static constexpr std::size_t kMostUnconsumed = 100000;

    ScriptRunner(CMSComm& comm, RandomSource& rng, VirtualSteps* module, QObject* parent = nullptr);
    ~ScriptRunner() override;

    void SetFailFast(bool on) { m_failFast = on; }
    // With no virtual module, each virtual-only step is left to a person or a touch robot at the
    // module: the runner announces it (Prompted), gives them `waitMs`, and counts it skipped, as
    // nothing here checked it. Reports that come meanwhile wait for the expects after it. 0 (the
    // default): such steps fail.
    void SetPromptForVirtualSteps(int waitMs) { m_promptMs = waitMs; }
    // Where a failed screen step writes the actual screen and the difference picture; the
    // current folder when empty.
    void SetPicturesFolder(const QString& folder) { m_picturesFolder = folder; }
    // Which screen steps write the actual screen as their reference. A step whose reference was
    // missing or differed still fails, so that a changed screen is never a pass.
    void SetReferenceUpdate(ReferenceUpdate update) { m_referenceUpdate = update; }
    // The runner reads the port itself, decoding what the control receives. Owners that read and
    // decode the port themselves (a console that also shows the traffic) hand each read's
    // reports to Receive() instead; the report lines are the texts of the reports of a known
    // code, so noise, damaged reports and unknown codes give none. The runner also learns of a
    // lost port itself, from the control; an owner that hears of it first hands it on with
    // PortLost() before it acts on it.
    void ReadPort();
    void Receive(std::span<const DecodedReport> reports);

    // Starts a run of `script` (kept by the caller for the length of the run). Returns at once;
    // Finished() ends every run, also one that could not start.
    void Start(const Script& script);
    // Ends the run at once: the running step and those after it are skipped. The port stays
    // open. Nothing happens when no run is going on.
    void Stop(const QString& why = QStringLiteral("stopped"));
    // The port went away: the running step fails with `cause`, the rest are skipped. Also kept
    // for a run started later on the closed port, which then says why.
    void PortLost(const QString& cause);
    bool IsRunning() const { return m_script != nullptr; }

    // The current or last run's steps so far.
    const RunCounts& Counts() const { return m_counts; }
    const std::deque<QByteArray>& RecentReports() const { return m_recent; }
    // Report lines compared with a pattern so far: each waiting line is compared once with the
    // pattern of the expect that waits, however long it waits.
    qint64 PatternChecks() const { return m_patternChecks; }

signals:
    void StepStarted(int index);
    void Prompted(int index, int waitMs);
    void StepFinished(int index, const StepResult& result);
    // `count` steps from `first` on were not run, for `reason`; at the end of a run only.
    void StepsSkipped(int first, int count, const QString& reason);
    void ReportReceived(const QByteArray& line);
    // A send step's bytes, handed to the port whole.
    void Sent(const QByteArray& bytes);
    void Finished(ScriptRunner::Outcome outcome);

private:
    struct Report
    {
        QByteArray line;
        qint64 atNs;
    };

    void Continue();
    void StartStep();
    void Complete(StepResult::State state, const QString& reason = {}, double latencyMs = -1);
    void End(Outcome outcome, const QString& skipReason);
    void SendBytes(const QByteArray& bytes, bool pieces);
    void AwaitDrain();
    void AwaitModule();
    int LimitFor(qint64 bytes) const;
    QString LimitFault(const char* what, qint64 total, qint64 left) const;
    void RunVirtualStep();
    void CompareScreen();
    void CheckReports();
    void OnDeadline();
    void OnPoll();
    const ScriptStep& Current() const;
    qint64 NowNs() const { return m_clock.nsecsElapsed(); }

    CMSComm& m_comm;
    RandomSource& m_rng;
    VirtualSteps* m_module;
    ReportDecoder m_decoder; // for ReadPort
    DecodedRead m_read;
    bool m_failFast = false;
    int m_promptMs = 0;
    QString m_picturesFolder;
    ReferenceUpdate m_referenceUpdate = ReferenceUpdate::None;
    QString m_lostCause;

    const Script* m_script = nullptr;
    StepResult m_result; // the running step's
    RunCounts m_counts;
    std::size_t m_index = 0;
    bool m_busy = false;       // the current step waits on the event loop
    bool m_inContinue = false; // a step that completes at once needs no new pass
    bool m_anyFailed = false;
    qint64 m_stepStartNs = 0;

    enum class Awaiting
    {
        Nothing,
        Drain,  // the port to take a send
        Module, // the virtual module to take everything sent, before a virtual step
        Reports,
        Time,
        Prompt, // a person doing a virtual-only step by hand
    };
    Awaiting m_awaiting = Awaiting::Nothing;

    QElapsedTimer m_clock;
    qint64 m_lastStimulusNs = -1;
    qint64 m_bytesSent = 0;
    qint64 m_moduleBase = 0;
    double m_bitsPerByte = 10; // on the line, with start, parity and stop bits
    int m_bitsPerSecond = 0;   // 0: not known
    qint64 m_awaitStartNs = 0; // Drain, Module: when the wait began
    qint64 m_awaitBytes = 0;   // and the bytes it waits for
    std::deque<Report> m_unconsumed;
    // Unconsumed reports the running expect has compared with its pattern: a new report is
    // compared once, not each waiting one again on every read.
    std::size_t m_scanned = 0;
    qint64 m_patternChecks = 0;
    std::deque<QByteArray> m_recent;

    QTimer m_next;     // the next pass over the steps
    QTimer m_deadline; // the limit of the current step
    QTimer m_poll;     // output drained, module caught up
};
