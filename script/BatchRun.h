#pragma once

#include "script/PortRun.h"
#include "script/RunCounts.h"
#include "script/RunSink.h"
#include "scriptformat/Script.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

class CMSComm;
class VirtualSteps;

// A whole run: the same scripts on each of its ports at once, one PortRun a port, each at its own
// pace, all in this thread's event loop. What the ports do goes to every sink, in the order the
// sinks were added. Under fail-fast the first failed step on any port ends every port's run. The
// run ends when every port's has, with the worst of their exit statuses.
class BatchRun : public QObject, private RunSink
{
    Q_OBJECT

public:
    explicit BatchRun(std::vector<Script> scripts, const RunSettings& settings,
                      QObject* parent = nullptr);
    ~BatchRun() override;

    // Before Begin(). `comm` is open and stays for the length of the run; `module`, when given,
    // is the virtual module on the other end of it.
    PortRun& AddPort(const QString& label, CMSComm& comm, VirtualSteps* module, std::uint32_t seed);
    // The sink stays for the length of the run.
    void AddSink(RunSink& sink);

    // Starts every port; returns at once. Finished() follows, also when there is no port.
    void Begin();
    // A signal: every port's running step and everything after it are skipped.
    void Interrupt(int signal);

    const std::vector<Script>& Scripts() const { return m_scripts; }
    const RunSettings& Settings() const { return m_settings; }
    const std::vector<std::unique_ptr<PortRun>>& Ports() const { return m_ports; }

    bool IsFinished() const { return m_finished; }
    // Every port's steps together.
    RunCounts Counts() const;
    // How the worst-ended port ended: a signal, then a lost port, then fail-fast.
    RunEnd End() const;
    int ExitStatus() const;

signals:
    void Finished(int exitStatus);

private:
    void SuiteStarted(const PortRun& port, const SuiteRun& suite) override;
    void StepStarted(const PortRun& port, const SuiteRun& suite, int index) override;
    void Sent(const PortRun& port, const SuiteRun& suite, const QByteArray& bytes) override;
    void ReportReceived(const PortRun& port, const QByteArray& line) override;
    void Prompted(const PortRun& port, const SuiteRun& suite, int index, int waitMs) override;
    void StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                      const StepResult& result) override;
    void StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                      const QString& reason) override;
    void SuiteFinished(const PortRun& port, const SuiteRun& suite, ScriptRunner::Outcome outcome,
                       const RunCounts& counts, double seconds) override;
    void SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason) override;
    void PortFinished(const PortRun& port) override;
    void Finish();

    const std::vector<Script> m_scripts;
    const RunSettings m_settings;
    std::vector<std::unique_ptr<PortRun>> m_ports;
    std::vector<RunSink*> m_sinks;
    bool m_finished = false;
};
