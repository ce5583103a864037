#pragma once

#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"

#include <QObject>
#include <QString>

// The virtual module's engine in this process, on a pseudo-terminal of its own that is not
// published in the port folder: a serial control opens DevicePath() as it would open a module,
// so pieces, line pacing and the decoder all run as they would on a real line.
class VirtualModule : public QObject
{
    Q_OBJECT

public:
    // Pictures for DrawImage come from `storageFolder`, as for the module program.
    explicit VirtualModule(const QString& storageFolder, QObject* parent = nullptr);

    // The error text is empty on success.
    QString Open();
    QString DevicePath() const { return m_line.DevicePath(); }
    void SetPaced(bool paced) { m_line.SetPaced(paced); }

    ModuleEngine& Engine() { return m_engine; }
    // Bytes the module has taken from the line so far.
    qint64 BytesTaken() const { return m_engine.BytesReceived(); }

private:
    ModuleLine m_line;
    ModuleEngine m_engine;
};
