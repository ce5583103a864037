#pragma once

#include "script/RunSink.h"

#include <QStringList>

#include <functional>

// The reference pictures a run wrote in place of the screens it compared with, listed once every
// port's run is over, so that what changed in the references folder is told in one place.
class ReferenceList : public RunSink
{
public:
    explicit ReferenceList(std::function<void(const QString&)> out) : m_out(std::move(out)) {}

    void StepFinished(const PortRun& port, const SuiteRun& suite, int index,
                      const StepResult& result) override;
    void RunFinished(const BatchRun& run) override;

    // In the order written, each once.
    const QStringList& Written() const { return m_written; }

private:
    std::function<void(const QString&)> m_out;
    QStringList m_written;
};
