#include "script/VirtualModule.h"

VirtualModule::VirtualModule(const QString& storageFolder, QObject* parent)
    : QObject(parent), m_engine(storageFolder)
{
    connect(&m_line, &ModuleLine::Received, &m_engine, &ModuleEngine::Feed);
    connect(&m_line, &ModuleLine::LineIdle, &m_engine, &ModuleEngine::LineIdle);
    connect(&m_engine, &ModuleEngine::ReportReady, &m_line, &ModuleLine::Write);
}

QString VirtualModule::Open()
{
    return m_line.Open(ModuleLine::kUnpublished);
}

void VirtualModule::SendEvent(std::uint8_t code, bool state)
{
    // A screen touch names screen 1, control 0, as the Events menu's does; the other hand-sent
    // reports carry no values.
    m_engine.SendEvent(code, {state, {1, 0}});
}
