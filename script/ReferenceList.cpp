#include "script/ReferenceList.h"

void ReferenceList::StepFinished(const PortRun& /*port*/, const SuiteRun& /*suite*/, int /*index*/,
                                 const StepResult& result)
{
    if (!result.referenceWritten.isEmpty() && !m_written.contains(result.referenceWritten))
        m_written << result.referenceWritten;
}

void ReferenceList::RunFinished(const BatchRun& /*run*/)
{
    if (m_written.isEmpty()) {
        m_out(QStringLiteral("no reference picture written"));
        return;
    }
    m_out(m_written.size() == 1
              ? QStringLiteral("1 reference picture written:")
              : QStringLiteral("%1 reference pictures written:").arg(m_written.size()));
    for (const QString& path : m_written)
        m_out(QStringLiteral("  ") + path);
}
