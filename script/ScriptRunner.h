#pragma once

#include "script/ReportLines.h"
#include "script/Script.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

#include <deque>
#include <vector>

class CMSComm;
class RandomSource;
class VirtualModule;

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
};

// Runs one script at a time over an open serial control, step by step on the event loop: nothing
// here waits in place, and every wait has a limit. The port stays open after a run, stopped or
// not. With no virtual module, virtual-only steps fail; callers refuse such scripts beforehand
// (FindVirtualOnlyStep).
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

    ScriptRunner(CMSComm& comm, RandomSource& rng, VirtualModule* module,
                 QObject* parent = nullptr);
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
    // The runner reads the port itself on each communication event. Owners that read the port
    // themselves (a console that also shows the traffic) hand the bytes to Receive() instead.
    void ReadPort();
    void Receive(QByteArrayView bytes);

    // Starts a run of `script` (kept by the caller for the length of the run). Returns at once;
    // Finished() ends every run, also one that could not start.
    void Start(const Script& script);
    // Ends the run at once: the running step and those after it are skipped. The port stays
    // open. Nothing happens when no run is going on.
    void Stop(const QString& why = QStringLiteral("stopped"));
    bool IsRunning() const { return m_script != nullptr; }

    const std::vector<StepResult>& Results() const { return m_results; }
    const std::deque<QByteArray>& RecentReports() const { return m_recent; }

signals:
    void StepStarted(int index);
    void Prompted(int index, int waitMs);
    void StepFinished(int index, const StepResult& result);
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
    void RunVirtualStep();
    void CompareScreen();
    void CheckReports();
    void OnDeadline();
    void OnPoll();
    void OnDeviceLost(const QString& message);
    const ScriptStep& Current() const;
    qint64 NowNs() const { return m_clock.nsecsElapsed(); }

    CMSComm& m_comm;
    RandomSource& m_rng;
    VirtualModule* m_module;
    ReportLines m_lines;
    bool m_failFast = false;
    int m_promptMs = 0;
    QString m_picturesFolder;
    QString m_lostCause;

    const Script* m_script = nullptr;
    std::vector<StepResult> m_results;
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
    std::deque<Report> m_unconsumed;
    std::deque<QByteArray> m_recent;
    std::vector<QByteArray> m_lineBuffer;

    QTimer m_next;     // the next pass over the steps
    QTimer m_deadline; // the limit of the current step
    QTimer m_poll;     // output drained, module caught up
};
