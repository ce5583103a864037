#include "tests/common/ConsoleWithModule.h"

#include <QTest>

ConsoleWithModule::ConsoleWithModule()
{
    m_lineError = line.Open(kPort);
    QObject::connect(&line, &ModuleLine::Received, &engine, &ModuleEngine::Feed);
    QObject::connect(&engine, &ModuleEngine::ReportReady, &line, &ModuleLine::Write);
}

ConsoleWithModule::~ConsoleWithModule()
{
    console.reset();
}

QString ConsoleWithModule::Open()
{
    if (!m_lineError.isEmpty())
        return QStringLiteral("the module's line did not open: ") + m_lineError;
    Start();
    SelectPort(kPort);
    Click(ids::kOpen);
    if (!console->Comm().GetPortOpen())
        return QStringLiteral("the console did not open COM%1").arg(kPort);
    if (!QTest::qWaitFor([this] { return engine.StatementCount() == 1; }, 5000))
        return QStringLiteral("the module ran %1 statements after the open, not 1")
            .arg(engine.StatementCount());
    return {};
}
