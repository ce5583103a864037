// The console's one trace line, end to end: a trace viewer runs in another process, the console
// opens COM7 on a developer machine, and the viewer receives the port number.
#include "TracePeer.h"

#include "tests/console/ConsoleFixture.h"

class TraceConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void openingAPortTracesItsNumber();
};

void TraceConsoleTest::openingAPortTracesItsNumber()
{
    PrivateRuntime runtime;
    TracePeer viewer;
    QVERIFY(viewer.Start({"viewer", runtime.SocketPath()}));
    ConsoleFixture f;
    QVERIFY(QFile(f.MarkerPath()).open(QIODevice::WriteOnly));
    ResetTraceWindow();

    PseudoTerminal module;
    QVERIFY(f.StartOpen(module, 7));

    QCOMPARE(viewer.NextLine(3000), QByteArray("connected"));
    QCOMPARE(viewer.NextLine(3000), "frame " + QByteArray("xta1:Set Comm Port 7\0", 21).toHex());
    f.Close();
}

QTEST_MAIN(TraceConsoleTest)
#include "tst_trace_console.moc"
