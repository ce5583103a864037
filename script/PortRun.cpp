#include "script/PortRun.h"

#include "serial/CMSComm.h"

QString SuiteName(const QString& scriptPath, int round, int rounds, const QString& port)
{
    QString name = scriptPath;
    if (!port.isEmpty())
        name += QStringLiteral(" on ") + port;
    if (rounds > 1)
        name += QStringLiteral(" (run %1)").arg(round);
    return name;
}

PortRun::PortRun(const QString& label, const std::vector<Script>& scripts,
                 const RunSettings& settings, CMSComm& comm, VirtualSteps* module, RunSink& sink,
                 std::uint32_t seed, QObject* parent)
    : QObject(parent), m_label(label), m_scripts(scripts), m_settings(settings), m_comm(comm),
      m_sink(sink), m_rng(seed), m_runner(comm, m_rng, module)
{
    m_runner.ReadPort();
    m_runner.SetFailFast(settings.failFast);
    m_runner.SetPromptForVirtualSteps(settings.promptMs);
    m_runner.SetPicturesFolder(settings.picturesFolder);
    m_runner.SetReferenceUpdate(settings.referenceUpdate);
    connect(&m_runner, &ScriptRunner::StepFinished, this, [this](int index, const StepResult& r) {
        m_sink.StepFinished(*this, *m_suite, index, r);
    });
    connect(&m_runner, &ScriptRunner::StepStarted, this,
            [this](int index) { m_sink.StepStarted(*this, *m_suite, index); });
    connect(&m_runner, &ScriptRunner::Sent, this,
            [this](const QByteArray& bytes) { m_sink.Sent(*this, *m_suite, bytes); });
    connect(&m_runner, &ScriptRunner::ReportReceived, this,
            [this](const QByteArray& line) { m_sink.ReportReceived(*this, line); });
    connect(&m_runner, &ScriptRunner::StepsSkipped, this,
            [this](int first, int count, const QString& reason) {
                m_sink.StepsSkipped(*this, *m_suite, first, count, reason);
            });
    connect(&m_runner, &ScriptRunner::Prompted, this,
            [this](int index, int waitMs) { m_sink.Prompted(*this, *m_suite, index, waitMs); });
    connect(&m_runner, &ScriptRunner::Finished, this, &PortRun::OnFinished);
    // After the runner's own connection: a failed connection has reached the runner, which then
    // fails the first step with its cause.
    connect(&m_comm, &CMSComm::Connected, this, &PortRun::OnConnectionSettled);
    connect(&m_comm, &CMSComm::DeviceLost, this, &PortRun::OnConnectionSettled);
}

PortRun::~PortRun() = default;

SuiteRun PortRun::Suite(std::size_t scriptIndex) const
{
    const Script& script = m_scripts[scriptIndex];
    return {
        script, scriptIndex, m_round,
        SuiteName(script.path, m_round, m_settings.rounds, m_oneOfSeveral ? m_label : QString())};
}

void PortRun::OpenFailed(const QString& cause)
{
    m_runner.PortLost(cause);
}

void PortRun::Begin()
{
    // A step timed from before the connection would count the connecting against the module,
    // and a send's bytes would wait in the queue past its limit.
    if (m_comm.IsConnecting()) {
        m_awaitingConnection = true;
        return;
    }
    StartNext();
}

void PortRun::OnConnectionSettled()
{
    if (!m_awaitingConnection)
        return;
    m_awaitingConnection = false;
    StartNext();
}

void PortRun::Interrupt(int signal)
{
    if (m_signal != 0 || m_finished)
        return;
    m_signal = signal;
    EndEarly(RunEnd::Interrupted, QStringLiteral("not run: interrupted"));
}

void PortRun::StopForFailFast(const QString& failedPort)
{
    if (m_end != RunEnd::Completed || m_finished)
        return;
    EndEarly(RunEnd::FailedFast,
             QStringLiteral("not run: a step failed on %1 (--fail-fast)").arg(failedPort));
}

void PortRun::EndEarly(RunEnd end, const QString& reason)
{
    m_end = end;
    m_endReason = reason;
    m_runner.Stop(m_endReason);
    // Between scripts no run ends, so nothing else would go on to the end.
    if (!m_runner.IsRunning())
        QMetaObject::invokeMethod(this, &PortRun::StartNext, Qt::QueuedConnection);
}

void PortRun::StartNext()
{
    if (m_suite || m_finished)
        return;
    if (m_end != RunEnd::Completed || m_scripts.empty()) {
        Finish();
        return;
    }
    if (m_scriptIndex == m_scripts.size()) {
        m_scriptIndex = 0;
        ++m_round;
    }
    if (m_round > m_settings.rounds) {
        Finish();
        return;
    }
    m_suite.emplace(Suite(m_scriptIndex));
    m_started = std::chrono::steady_clock::now();
    m_sink.SuiteStarted(*this, *m_suite);
    m_runner.Start(m_suite->script);
}

void PortRun::OnFinished(ScriptRunner::Outcome outcome)
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    m_counts.Add(m_runner.Counts());
    m_sink.SuiteFinished(*this, *m_suite, outcome, m_runner.Counts(), seconds);
    m_suite.reset();
    ++m_scriptIndex;
    if (m_end == RunEnd::Completed && outcome == ScriptRunner::Outcome::PortLost) {
        m_end = RunEnd::PortLost;
        m_endReason = QStringLiteral("not run: the port was lost");
    } else if (m_end == RunEnd::Completed && outcome == ScriptRunner::Outcome::Failed &&
               m_settings.failFast) {
        m_end = RunEnd::FailedFast;
        m_endReason = QStringLiteral("not run: an earlier step failed (--fail-fast)");
    }
    // Queued: the runner is still inside its own signal.
    QMetaObject::invokeMethod(this, &PortRun::StartNext, Qt::QueuedConnection);
}

void PortRun::Finish()
{
    m_finished = true;
    for (; m_round <= m_settings.rounds && m_scriptIndex < m_scripts.size(); ++m_scriptIndex) {
        m_sink.SuiteNotRun(*this, Suite(m_scriptIndex), m_endReason);
        m_counts.skipped += static_cast<qint64>(m_scripts[m_scriptIndex].steps.size());
    }
    m_comm.SetPortOpen(false);
    m_sink.PortFinished(*this);
}
