#pragma once

#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"
#include "script/VirtualSteps.h"

#include <QObject>
#include <QString>

// The virtual module's engine in this process, on a pseudo-terminal of its own that is not
// published in the port folder: a serial control opens DevicePath() as it would open a module,
// so pieces, line pacing and the decoder all run as they would on a real line.
class VirtualModule : public QObject, public VirtualSteps
{
    Q_OBJECT

public:
    // Pictures for DrawImage come from `storageFolder`, as for the module program.
    explicit VirtualModule(const QString& storageFolder, QObject* parent = nullptr);

    // The error text is empty on success.
    QString Open();
    QString DevicePath() const { return m_line.DevicePath(); }
    void SetPaced(bool paced) { m_line.SetPaced(paced); }
    // As slower firmware: see ModuleEngine::SetAnswerDelay.
    void SetAnswerDelay(int ms) { m_engine.SetAnswerDelay(ms); }

    ModuleEngine& Engine() { return m_engine; }

    // Taken means run: a touch must find the controls the statements before it made.
    qint64 BytesTaken() const override { return m_engine.BytesExecuted(); }
    int AnswerDelayMs() const override { return m_engine.AnswerDelay(); }
    void Press(QPoint p) override { m_engine.Press(p); }
    void Move(QPoint p) override { m_engine.Move(p); }
    void Release(QPoint p) override { m_engine.Release(p); }
    void KeyPress(std::uint8_t key) override { m_engine.KeyPress(key); }
    void SendEvent(std::uint8_t code, bool state) override;
    void SendDate() override { m_engine.SendDate(); }
    void SendTime() override { m_engine.SendTime(); }
    const QImage& Screen() const override { return m_engine.Screen(); }

private:
    ModuleLine m_line;
    ModuleEngine m_engine;
};
