#include "script/BatchRun.h"

#include <algorithm>

BatchRun::BatchRun(std::vector<Script> scripts, const RunSettings& settings, QObject* parent)
    : QObject(parent), m_scripts(std::move(scripts)), m_settings(settings)
{}

BatchRun::~BatchRun() = default;

PortRun& BatchRun::AddPort(const QString& label, CMSComm& comm, VirtualSteps* module,
                           std::uint32_t seed)
{
    RunSink& fanOut = *this;
    m_ports.push_back(
        std::make_unique<PortRun>(label, m_scripts, m_settings, comm, module, fanOut, seed));
    for (const std::unique_ptr<PortRun>& port : m_ports)
        port->SetOneOfSeveral(m_ports.size() > 1);
    return *m_ports.back();
}

void BatchRun::AddSink(RunSink& sink)
{
    m_sinks.push_back(&sink);
}

void BatchRun::Begin()
{
    if (m_ports.empty()) {
        QMetaObject::invokeMethod(this, &BatchRun::Finish, Qt::QueuedConnection);
        return;
    }
    for (const std::unique_ptr<PortRun>& port : m_ports)
        port->Begin();
}

void BatchRun::Interrupt(int signal)
{
    for (const std::unique_ptr<PortRun>& port : m_ports)
        port->Interrupt(signal);
}

RunCounts BatchRun::Counts() const
{
    RunCounts counts;
    for (const std::unique_ptr<PortRun>& port : m_ports)
        counts.Add(port->Counts());
    return counts;
}

RunEnd BatchRun::End() const
{
    RunEnd end = RunEnd::Completed;
    // The enumerators are in that order.
    for (const std::unique_ptr<PortRun>& port : m_ports)
        end = std::max(end, port->End());
    return end;
}

int BatchRun::ExitStatus() const
{
    if (m_ports.empty())
        return RunExitStatus({}, RunEnd::Completed);
    int status = kExitPassed;
    for (const std::unique_ptr<PortRun>& port : m_ports)
        status = WorstExitStatus(status, port->ExitStatus());
    return status;
}

void BatchRun::SuiteStarted(const PortRun& port, const SuiteRun& suite)
{
    for (RunSink* sink : m_sinks)
        sink->SuiteStarted(port, suite);
}

void BatchRun::StepStarted(const PortRun& port, const SuiteRun& suite, int index)
{
    for (RunSink* sink : m_sinks)
        sink->StepStarted(port, suite, index);
}

void BatchRun::Sent(const PortRun& port, const SuiteRun& suite, const QByteArray& bytes)
{
    for (RunSink* sink : m_sinks)
        sink->Sent(port, suite, bytes);
}

void BatchRun::ReportReceived(const PortRun& port, const QByteArray& line)
{
    for (RunSink* sink : m_sinks)
        sink->ReportReceived(port, line);
}

void BatchRun::Prompted(const PortRun& port, const SuiteRun& suite, int index, int waitMs)
{
    for (RunSink* sink : m_sinks)
        sink->Prompted(port, suite, index, waitMs);
}

void BatchRun::StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                            const StepResult& result)
{
    for (RunSink* sink : m_sinks)
        sink->StepFinished(port, suite, index, result);
    // The failed port ends its own run; the others are stopped here, after the sinks have the
    // failure, so that it is told before what it caused.
    if (m_settings.failFast && result.state == StepResult::State::Failed)
        for (const std::unique_ptr<PortRun>& other : m_ports)
            if (other.get() != &port)
                other->StopForFailFast(port.Label());
}

void BatchRun::StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                            const QString& reason)
{
    for (RunSink* sink : m_sinks)
        sink->StepsSkipped(port, suite, first, count, reason);
}

void BatchRun::SuiteFinished(const PortRun& port, const SuiteRun& suite,
                             ScriptRunner::Outcome outcome, const RunCounts& counts, double seconds)
{
    for (RunSink* sink : m_sinks)
        sink->SuiteFinished(port, suite, outcome, counts, seconds);
}

void BatchRun::SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason)
{
    for (RunSink* sink : m_sinks)
        sink->SuiteNotRun(port, suite, reason);
}

void BatchRun::PortFinished(const PortRun& port)
{
    for (RunSink* sink : m_sinks)
        sink->PortFinished(port);
    if (std::all_of(m_ports.begin(), m_ports.end(),
                    [](const std::unique_ptr<PortRun>& each) { return each->IsFinished(); }))
        Finish();
}

void BatchRun::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    for (RunSink* sink : m_sinks)
        sink->RunFinished(*this);
    emit Finished(ExitStatus());
}
