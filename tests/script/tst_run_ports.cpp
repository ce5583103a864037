// orvexa-run on several ports at once, as a test rack runs it: what --port takes, and a run on
// pseudo-terminals this test holds, standing in for modules, beside a port that does not exist.
#include "module/EventEncoder.h"
#include "script/PortTarget.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/Ser2Net.h"
#include "tests/common/TempConfigHome.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class RunPortsTest : public QObject
{
    Q_OBJECT

private slots:
    void portTargets_data();
    void portTargets();
    void refusedOptions_data();
    void refusedOptions();
    void severalPortsAtOnce();
    void serverNoticesAreShown();
};

void RunPortsTest::portTargets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label"); // empty: refused
    QTest::addColumn<short>("comPort");

    QTest::newRow("COM number") << "COM7"
                                << "COM7" << short(7);
    QTest::newRow("lower case") << "com255"
                                << "COM255" << short(255);
    QTest::newRow("bare number") << "12"
                                 << "COM12" << short(12);
    QTest::newRow("device path") << "/dev/ttyUSB0"
                                 << "/dev/ttyUSB0" << short(0);
    QTest::newRow("relative path") << "./pty"
                                   << "./pty" << short(0);
    QTest::newRow("raw TCP") << "socket://127.0.0.1:7002"
                             << "socket://127.0.0.1:7002" << short(0);
    QTest::newRow("RFC 2217") << "rfc2217://rack1:7001"
                              << "rfc2217://rack1:7001" << short(0);
    QTest::newRow("COM0") << "COM0"
                          << "" << short(0);
    QTest::newRow("COM256") << "COM256"
                            << "" << short(0);
    QTest::newRow("a name without a slash") << "ttyUSB0"
                                            << "" << short(0);
    QTest::newRow("unknown scheme") << "telnet://rack1:7001"
                                    << "" << short(0);
    QTest::newRow("scheme alone") << "socket://"
                                  << "" << short(0);
}

void RunPortsTest::portTargets()
{
    QFETCH(QString, text);
    QFETCH(QString, label);
    QFETCH(short, comPort);

    QString error;
    const std::optional<PortTarget> target = ParsePortTarget(text, &error);
    QCOMPARE(target.has_value(), !label.isEmpty());
    if (!target) {
        // The message quotes what it refuses.
        QVERIFY2(error.contains(u'"' + text + u'"'), qPrintable(error));
        return;
    }
    QCOMPARE(target->Label(), label);
    QCOMPARE(target->comPort, comPort);
}

void RunPortsTest::refusedOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("error");

    QTest::newRow("virtual beside a port")
        << QStringList{"--virtual", "--port", "/dev/null"} << "--virtual goes alone";
    QTest::newRow("a port named twice")
        << QStringList{"--port", "COM3", "--port", "3"} << "COM3 is named twice";
    QTest::newRow("a device named as a port too")
        << QStringList{"--port", "/dev/null", "--device", "/dev/null"}
        << "/dev/null is named twice";
    QTest::newRow("no such scheme")
        << QStringList{"--port", "COM3", "--port", "ssh://rack1"} << "--port: \"ssh://rack1\"";
}

void RunPortsTest::refusedOptions()
{
    QFETCH(QStringList, options);
    QFETCH(QString, error);

    const TempConfigHome home;
    const QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("a.ots")));
    QVERIFY(script.open(QIODevice::WriteOnly) && script.write("send Clear;\n") > 0);
    script.close();
    QProcess run;
    run.start(QStringLiteral(ORVEXA_RUN_EXE), options << script.fileName());
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 2);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(err.contains(error), qPrintable(err));
    QCOMPARE(run.readAllStandardOutput(), QByteArray());
}

void RunPortsTest::severalPortsAtOnce()
{
    const TempConfigHome home;
    const QTemporaryDir dir;
    PseudoTerminal first, second;
    QVERIFY(first.isOpen() && second.isOpen());
    const QString gone = dir.filePath(QStringLiteral("gone"));
    const QString junit = dir.filePath(QStringLiteral("r.xml"));
    QFile script(dir.filePath(QStringLiteral("a.ots")));
    QVERIFY(script.open(QIODevice::WriteOnly) &&
            script.write("send Key;\nexpect $on_key* within 20000\n") > 0);
    script.close();

    QProcess run;
    run.start(QStringLiteral(ORVEXA_RUN_EXE),
              {QStringLiteral("--port"), first.devicePath(), QStringLiteral("--port"), gone,
               QStringLiteral("--device"), second.devicePath(), QStringLiteral("--junit"), junit,
               script.fileName()});
    // Both modules are sent to before either answers: the ports run at once.
    QCOMPARE(first.ReadExactly(4, 20000), QByteArray("Key;"));
    QCOMPARE(second.ReadExactly(4, 20000), QByteArray("Key;"));
    for (PseudoTerminal* module : {&first, &second})
        QVERIFY(module->Write(EncodeReport(0x85, {false, {0x41}}, ReportForm::Text)));
    QVERIFY(run.waitForFinished(20000));
    const QStringList out =
        QString::fromUtf8(run.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(run.exitCode(), 2);

    const QString path = script.fileName();
    const auto hasLine = [&out](const QString& start) {
        return std::any_of(out.begin(), out.end(),
                           [&](const QString& line) { return line.startsWith(start); });
    };
    for (const QString& port : {first.devicePath(), second.devicePath()})
        QVERIFY2(hasLine(port + QStringLiteral("  ok   ") + path + QStringLiteral(":2  ")),
                 qPrintable(out.join(u'\n')));
    // The port that did not open fails with the cause, and the run says so once more.
    QVERIFY2(hasLine(gone + QStringLiteral("  FAIL ") + path + QStringLiteral(":1  send Key;: ") +
                     gone + QStringLiteral(": ")),
             qPrintable(out.join(u'\n')));
    QVERIFY2(err.contains(QStringLiteral("orvexa-run: ") + gone), qPrintable(err));
    // Every line carries its port but the two that span all ports: the closing count, and before
    // it the latency table of the expect steps over every port's runs.
    const qsizetype table = out.indexOf(
        QRegularExpression(QStringLiteral("^latency \\(ms\\) +count .* step$")));
    QVERIFY2(table > 0, qPrintable(out.join(u'\n')));
    QCOMPARE(out.size() - table, 3); // the header, the script's one expect, the count
    for (const QString& line : out.mid(0, table))
        QVERIFY2(line.startsWith(first.devicePath() + QStringLiteral("  ")) ||
                     line.startsWith(second.devicePath() + QStringLiteral("  ")) ||
                     line.startsWith(gone + QStringLiteral("  ")),
                 qPrintable(line));
    QCOMPARE(out.last(),
             QStringLiteral("5 steps ran, 2 of them checks: 2 passed, 0 failed; 1 other step "
                            "failed; 1 skipped"));

    QFile results(junit);
    QVERIFY(results.open(QIODevice::ReadOnly));
    const QByteArray xml = results.readAll();
    for (const QString& port : {first.devicePath(), gone, second.devicePath()})
        QVERIFY2(xml.contains(("<testsuite name=\"" + path + " on " + port + '"').toUtf8()),
                 xml.constData());
}

void RunPortsTest::serverNoticesAreShown()
{
    const TempConfigHome home;
    const QTemporaryDir dir;
    PseudoTerminal module;
    QVERIFY(module.isOpen());
    // In front of a pseudo-terminal, ser2net cannot set the modem lines and leaves the request
    // unanswered.
    const Ser2Net server({module.devicePath()});
    QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
    QFile script(dir.filePath(QStringLiteral("a.ots")));
    QVERIFY(script.open(QIODevice::WriteOnly) &&
            script.write("send Key;\nexpect $on_key* within 60000\n") > 0);
    script.close();

    QProcess run;
    run.start(QStringLiteral(ORVEXA_RUN_EXE),
              {QStringLiteral("--port"),
               QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.TelnetPort()),
               script.fileName()});
    QCOMPARE(module.ReadExactly(4, 20000), QByteArray("Key;"));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += run.readAllStandardError(), err.contains(" did not answer: ")),
                             20000);
    QVERIFY(module.Write(EncodeReport(0x85, {false, {0x41}}, ReportForm::Text)));
    QVERIFY(run.waitForFinished(20000));
    // A note, not a failure: the run goes on and passes.
    QCOMPARE(run.exitCode(), 0);
    QVERIFY2(err.contains(QStringLiteral("orvexa-run: rfc2217://127.0.0.1:%1: ")
                              .arg(server.TelnetPort())
                              .toUtf8()),
             err.constData());
}

QTEST_GUILESS_MAIN(RunPortsTest)
#include "tst_run_ports.moc"
