#pragma once

#include "script/RunSink.h"

#include <QString>

#include <functional>

// The lines a run prints as it goes: a heading per suite when there is more than one, a line per
// step (its result, a failure's last reports), a line per step left to a person, and at the end
// the counts of all ports. With several ports each line starts with its port; the closing line
// counts them all.
class RunConsole : public RunSink
{
public:
    using Printer = std::function<void(const QString& line)>;

    // `out` takes the run's lines; `error` what shows that the run proved nothing.
    RunConsole(Printer out, Printer error) : m_out(std::move(out)), m_error(std::move(error)) {}

    void SuiteStarted(const PortRun& port, const SuiteRun& suite) override;
    void Prompted(const PortRun& port, const SuiteRun& suite, int index, int waitMs) override;
    void StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                      const StepResult& result) override;
    void StepsSkipped(const PortRun& port, const SuiteRun& suite, int first, int count,
                      const QString& reason) override;
    void RunFinished(const BatchRun& run) override;

private:
    void Print(const PortRun& port, const QString& line) const;

    Printer m_out;
    Printer m_error;
};
