// The rules of a run of scripts, on real ports: rounds, fail-fast, a lost port, a port that does
// not open or connect, signals, the suites listed as not run, and the exit status, on one port
// and on several at once. Each port is a pseudo-terminal whose other end this test answers as a
// module would, reached directly or through a real ser2net.
#include "module/EventEncoder.h"
#include "script/BatchRun.h"
#include "script/JunitReport.h"
#include "script/PortTarget.h"
#include "script/RunConsole.h"
#include "serial/CMSComm.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/Ser2Net.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <csignal>
#include <map>

namespace {

using State = StepResult::State;

// The other end of a port. 'a' answers "Key;" with a key report and "Click;" with a click
// report; 's' and 't' answer alike through ser2net's raw and RFC 2217 accepters; 'm' answers
// nothing; 'h' hangs up at the first statement. 'x' is a port that does not exist, 'r' an address
// that refuses connections, 'n' a listener that accepts and never negotiates RFC 2217. Answers
// wait until every port has sent a statement, so that what one port's answer causes finds the
// others under way.
struct Peer
{
    char kind = 'm';
    PseudoTerminal line;
    QByteArray received;
    qsizetype handled = 0; // bytes of `received` whose statements were answered

    bool Answers() const { return QByteArrayView("ast").contains(kind); }
    bool Opens() const { return !QByteArrayView("xrn").contains(kind); }

    void Answer()
    {
        for (qsizetype end; line.isOpen() && (end = received.indexOf(';', handled)) >= 0;) {
            const QByteArray statement = received.mid(handled, end - handled);
            handled = end + 1;
            if (kind == 'h')
                line.CloseMaster();
            else if (Answers() && statement == "Key")
                QVERIFY(line.Write(EncodeReport(0x85, {false, {0x41}}, ReportForm::Text)));
            else if (Answers() && statement == "Click")
                QVERIFY(line.Write(EncodeReport(0x81, {true, {1}}, ReportForm::Binary)));
        }
    }
};

// Each suite as "PORT NAME: LETTERS[ / REASON]", a letter a step (Passed, Failed, Skipped; "-"
// for a suite not run), with the reason the first skipped step gives.
class SuiteLog : public RunSink
{
public:
    QStringList suites; // in the order they ended
    QStringList names;
    int stepsFinished = 0;

    void SuiteStarted(const PortRun& port, const SuiteRun& suite) override
    {
        m_letters[&port] = QString(qsizetype(suite.script.steps.size()), u'?');
        m_reason[&port].clear();
    }
    void StepFinished(const PortRun& port, const SuiteRun&, int index,
                      const StepResult& result) override
    {
        ++stepsFinished;
        Mark(port, index, 1,
             result.state == State::Passed   ? u'P'
             : result.state == State::Failed ? u'F'
                                             : u'S',
             result.reason);
    }
    void StepsSkipped(const PortRun& port, const SuiteRun&, int first, int count,
                      const QString& reason) override
    {
        Mark(port, first, count, u'S', reason);
    }
    void SuiteFinished(const PortRun& port, const SuiteRun& suite, ScriptRunner::Outcome,
                       const RunCounts&, double) override
    {
        Add(port, suite, m_letters[&port], m_reason[&port]);
    }
    void SuiteNotRun(const PortRun& port, const SuiteRun& suite, const QString& reason) override
    {
        Add(port, suite, QString(qsizetype(suite.script.steps.size()), u'-'), reason);
    }

private:
    void Mark(const PortRun& port, int first, int count, QChar letter, const QString& reason)
    {
        for (int i = first; i < first + count; ++i)
            m_letters[&port][i] = letter;
        if (letter == u'S' && m_reason[&port].isEmpty())
            m_reason[&port] = reason;
    }
    void Add(const PortRun& port, const SuiteRun& suite, const QString& letters,
             const QString& reason)
    {
        suites << port.Label() + u' ' + suite.name + QStringLiteral(": ") + letters +
                      (reason.isEmpty() ? QString() : QStringLiteral(" / ") + reason);
        names << suite.name;
    }

    std::map<const PortRun*, QString> m_letters;
    std::map<const PortRun*, QString> m_reason;
};

QString Letter(char16_t first, std::size_t index)
{
    return QString(QChar(static_cast<char16_t>(first + index)));
}

// The suites of the script runs: the closing one of the latencies is left out.
QStringList JunitSuiteNames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("no file")};
    QStringList names;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"testsuite")
            names << reader.attributes().value(QStringLiteral("name")).toString();
    if (reader.hasError())
        names << reader.errorString();
    names.removeAll(QStringLiteral("orvexa-run latency"));
    return names;
}

// The ports of a run and what stands behind them.
struct Rack
{
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<std::unique_ptr<CMSComm>> comms;
    std::unique_ptr<Ser2Net> server;
    QTcpServer silent;
    QStringList named; // what each port's error must name; empty for a port that opens
};

// Adds a port a peer of each kind in `kinds` to `batch`, named A, B, ...
void AddPorts(BatchRun& batch, const QString& kinds, const QString& folder, Rack& rack)
{
    QStringList served;
    for (const QChar kind : kinds) {
        rack.peers.push_back(std::make_unique<Peer>());
        Peer& peer = *rack.peers.back();
        peer.kind = kind.toLatin1();
        QVERIFY(peer.line.isOpen());
        if (kind == u's' || kind == u't')
            served << peer.line.devicePath();
    }
    if (!served.isEmpty()) {
        rack.server = std::make_unique<Ser2Net>(served);
        QVERIFY2(rack.server->IsRunning(), qPrintable(rack.server->Error()));
    }
    QVERIFY(rack.silent.listen(QHostAddress::LocalHost));
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 refusing = closed.serverPort();
    closed.close();

    int servedIndex = 0;
    for (const std::unique_ptr<Peer>& peer : rack.peers) {
        PortTarget target{0, peer->line.devicePath()};
        QString named;
        if (peer->kind == 's')
            target.path =
                QStringLiteral("socket://127.0.0.1:%1").arg(rack.server->RawPort(servedIndex++));
        else if (peer->kind == 't')
            target.path = QStringLiteral("rfc2217://127.0.0.1:%1")
                              .arg(rack.server->TelnetPort(servedIndex++));
        else if (peer->kind == 'x')
            named = target.path = folder + QStringLiteral("/gone");
        else if (peer->kind == 'r')
            named = QStringLiteral("127.0.0.1:%1").arg(refusing);
        else if (peer->kind == 'n')
            named = QStringLiteral("127.0.0.1:%1").arg(rack.silent.serverPort());
        if (peer->kind == 'r' || peer->kind == 'n')
            target.path =
                (peer->kind == 'r' ? QStringLiteral("socket://") : QStringLiteral("rfc2217://")) +
                named;
        if (!peer->Opens())
            peer->line.CloseMaster();
        rack.named << named;
        rack.comms.push_back(std::make_unique<CMSComm>());
        const QString error =
            OpenPortTarget(*rack.comms.back(), target, QStringLiteral("115200,n,8,1"));
        PortRun& port =
            batch.AddPort(Letter(u'A', rack.comms.size() - 1), *rack.comms.back(), nullptr, 1);
        // An address fails later, when its connection does.
        QCOMPARE(error.isEmpty(), peer->kind != 'x');
        if (!error.isEmpty())
            port.OpenFailed(error);
    }
}

// Plays the peers until the run has finished, with `signal` after `signalAfter` steps.
void Drive(BatchRun& batch, std::vector<std::unique_ptr<Peer>>& peers, const SuiteLog& log,
           const QSignalSpy& finished, int signal, int signalAfter)
{
    QElapsedTimer waited;
    waited.start();
    while (finished.isEmpty() && waited.elapsed() < 60000) {
        bool anyOpen = false;
        for (const std::unique_ptr<Peer>& peer : peers) {
            if (peer->line.isOpen()) {
                anyOpen = true;
                peer->received += peer->line.ReadFor(5);
            }
        }
        if (!anyOpen)
            QTest::qWait(5);
        if (std::all_of(peers.begin(), peers.end(), [](const std::unique_ptr<Peer>& peer) {
                return peer->received.contains(';') || !peer->line.isOpen();
            }))
            for (const std::unique_ptr<Peer>& peer : peers)
                peer->Answer();
        if (signalAfter > 0 && log.stepsFinished >= signalAfter) {
            batch.Interrupt(signal);
            signalAfter = -1;
        }
    }
}

// The scripts as a.ots, b.ots, ...; a script with an error is no test of a run.
std::vector<Script> Parse(const QByteArrayList& scripts)
{
    std::vector<Script> parsed;
    for (const QByteArray& text : scripts) {
        ParseOutcome outcome = ParseScript(text);
        if (!outcome.errors.empty())
            qFatal("a script of the table has an error on line %d", outcome.errors[0].line);
        outcome.path = Letter(u'a', parsed.size()) + QStringLiteral(".ots");
        parsed.push_back(std::move(outcome));
    }
    return parsed;
}

QStringList SortedByPort(QStringList suites)
{
    std::stable_sort(suites.begin(), suites.end(),
                     [](const QString& a, const QString& b) { return a.front() < b.front(); });
    return suites;
}

} // namespace

class RunRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void opening_data();
    void opening();
};

void RunRulesTest::rules_data()
{
    QTest::addColumn<QByteArrayList>("scripts"); // a.ots, b.ots, ...
    QTest::addColumn<QString>("ports");          // a Peer kind a port, named A, B, ...
    QTest::addColumn<int>("rounds");
    QTest::addColumn<bool>("failFast");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("signalAfter"); // steps finished before the signal; 0: before the start
    QTest::addColumn<QStringList>("suites"); // each port's, in order, the ports in turn
    QTest::addColumn<QString>("summary");
    QTest::addColumn<int>("exit");

    const QByteArray key = "send Key;\nexpect $on_key* within 20000\n";
    const QByteArray clickFails = "send Click;\nexpect-none $on_click* for 60000\n";
    const QByteArray failThenKey =
        "send Key;\nexpect $on_click* within 50\nsend Key;\nexpect $on_key* within 20000\n";
    const QByteArray longWait =
        "send Key;\nexpect $on_key* within 20000\nexpect-none $on_* for 600000\nsend Key;\n";
    const QString failedFast = QStringLiteral("not run: an earlier step failed (--fail-fast)");
    const QString lost = QStringLiteral("not run: the port was lost");
    const QString interrupted = QStringLiteral("not run: interrupted");

    QTest::newRow("passed") << QByteArrayList{key} << "a" << 1 << false << 0 << -1
                            << QStringList{"A a.ots: PP"}
                            << "2 steps ran, 1 of them a check: 1 passed, 0 failed" << 0;
    QTest::newRow("a failed check fails the run, which goes on")
        << QByteArrayList{"send Key;\nexpect $on_click* within 50\nexpect $on_key* within "
                          "20000\n"}
        << "a" << 1 << false << 0 << -1 << QStringList{"A a.ots: PFP"}
        << "3 steps ran, 2 of them checks: 1 passed, 1 failed" << 1;
    QTest::newRow("nothing checked is no pass")
        << QByteArrayList{"send Key;\nwait 1\n"} << "a" << 1 << false << 0 << -1
        << QStringList{"A a.ots: PP"}
        << "2 steps ran, 0 of them checks: 0 passed, 0 failed; nothing was checked" << 2;
    QTest::newRow("a suite per script, in order")
        << QByteArrayList{key, "send Click;\nwait 1\n"} << "a" << 1 << false << 0 << -1
        << QStringList{"A a.ots: PP", "A b.ots: PP"}
        << "4 steps ran, 1 of them a check: 1 passed, 0 failed" << 0;
    QTest::newRow("repeat runs the rounds in order, each a suite")
        << QByteArrayList{key, key} << "a" << 2 << false << 0 << -1
        << QStringList{"A a.ots (run 1): PP", "A b.ots (run 1): PP", "A a.ots (run 2): PP",
                       "A b.ots (run 2): PP"}
        << "8 steps ran, 4 of them checks: 4 passed, 0 failed" << 0;
    QTest::newRow("fail-fast ends the script, the round and later rounds")
        << QByteArrayList{failThenKey, key} << "a" << 2 << true << 0 << -1
        << QStringList{"A a.ots (run 1): PFSS / " + failedFast,
                       "A b.ots (run 1): -- / " + failedFast}
        << "2 steps ran, 1 of them a check: 0 passed, 1 failed; 4 skipped" << 1;
    QTest::newRow("fail-fast at a round's last script lists nothing more")
        << QByteArrayList{key, failThenKey} << "a" << 2 << true << 0 << -1
        << QStringList{"A a.ots (run 1): PP", "A b.ots (run 1): PFSS / " + failedFast}
        << "4 steps ran, 2 of them checks: 1 passed, 1 failed; 2 skipped" << 1;
    QTest::newRow("without fail-fast a failure ends nothing")
        << QByteArrayList{failThenKey} << "a" << 2 << false << 0 << -1
        << QStringList{"A a.ots (run 1): PFPP", "A a.ots (run 2): PFPP"}
        << "8 steps ran, 4 of them checks: 2 passed, 2 failed" << 1;
    QTest::newRow("a lost port ends the run as an error")
        << QByteArrayList{key + "send Key;\n", key} << "h" << 2 << false << 0 << -1
        << QStringList{"A a.ots (run 1): PFS / " + lost, "A b.ots (run 1): -- / " + lost}
        << "2 steps ran, 1 of them a check: 0 passed, 1 failed; 3 skipped" << 2;
    for (const auto& [name, number] :
         {std::pair{"interrupt", SIGINT}, std::pair{"terminate", SIGTERM},
          std::pair{"hang-up", SIGHUP}})
        QTest::addRow("%s during a step", name)
            << QByteArrayList{longWait, key} << "a" << 2 << false << number << 2
            << QStringList{"A a.ots (run 1): PPSS / " + interrupted,
                           "A b.ots (run 1): -- / " + interrupted}
            << "2 steps ran, 1 of them a check: 1 passed, 0 failed; 4 skipped" << 128 + number;
    QTest::newRow("interrupt before the first step")
        << QByteArrayList{key, key} << "a" << 3 << true << int(SIGINT) << 0
        << QStringList{"A a.ots (run 1): -- / " + interrupted,
                       "A b.ots (run 1): -- / " + interrupted}
        << "0 steps ran, 0 of them checks: 0 passed, 0 failed; 4 skipped; nothing was checked"
        << 128 + SIGINT;

    QTest::newRow("several ports run every script, each suite named by its port")
        << QByteArrayList{key, key} << "aa" << 1 << false << 0 << -1
        << QStringList{"A a.ots on A: PP", "A b.ots on A: PP", "B a.ots on B: PP",
                       "B b.ots on B: PP"}
        << "8 steps ran, 4 of them checks: 4 passed, 0 failed" << 0;
    QTest::newRow("several ports: a failure is worse than a pass")
        << QByteArrayList{"send Click;\nexpect-none $on_click* for 300\n"} << "am" << 1 << false
        << 0 << -1 << QStringList{"A a.ots on A: PF", "B a.ots on B: PP"}
        << "4 steps ran, 2 of them checks: 1 passed, 1 failed" << 1;
    QTest::newRow("several ports: a lost port is worse than a failure")
        << QByteArrayList{clickFails} << "ah" << 1 << false << 0 << -1
        << QStringList{"A a.ots on A: PF", "B a.ots on B: PF"}
        << "4 steps ran, 2 of them checks: 0 passed, 2 failed" << 2;
    QTest::newRow("several ports: fail-fast stops every port")
        << QByteArrayList{clickFails, key} << "am" << 2 << true << 0 << -1
        << QStringList{"A a.ots on A (run 1): PF", "A b.ots on A (run 1): -- / " + failedFast,
                       "B a.ots on B (run 1): PS / not run: a step failed on A (--fail-fast)",
                       "B b.ots on B (run 1): -- / not run: a step failed on A (--fail-fast)"}
        << "3 steps ran, 1 of them a check: 0 passed, 1 failed; 5 skipped" << 1;
    QTest::newRow("several ports: a signal before the first step")
        << QByteArrayList{key} << "am" << 1 << false << int(SIGTERM) << 0
        << QStringList{"A a.ots on A: -- / " + interrupted, "B a.ots on B: -- / " + interrupted}
        << "0 steps ran, 0 of them checks: 0 passed, 0 failed; 4 skipped; nothing was checked"
        << 128 + SIGTERM;
}

void RunRulesTest::rules()
{
    QFETCH(QByteArrayList, scripts);
    QFETCH(QString, ports);
    QFETCH(int, rounds);
    QFETCH(bool, failFast);
    QFETCH(int, signal);
    QFETCH(int, signalAfter);
    QFETCH(QStringList, suites);
    QFETCH(QString, summary);
    QFETCH(int, exit);

    RunSettings settings;
    settings.rounds = rounds;
    settings.failFast = failFast;
    BatchRun batch(Parse(scripts), settings);

    const QTemporaryDir dir;
    Rack rack;
    AddPorts(batch, ports, dir.path(), rack);
    SuiteLog log;
    QStringList out;
    RunConsole console([&out](const QString& line) { out << line; }, [](const QString&) {});
    const QString junitPath = dir.filePath(QStringLiteral("results.xml"));
    JunitSink junit(junitPath);
    for (RunSink* sink : std::initializer_list<RunSink*>{&log, &console, &junit})
        batch.AddSink(*sink);
    QSignalSpy finished(&batch, &BatchRun::Finished);

    // As orvexa-run does: a signal while the scripts were read ends the run before it begins.
    if (signalAfter == 0)
        batch.Interrupt(signal);
    else
        batch.Begin();
    Drive(batch, rack.peers, log, finished, signal, signalAfter);
    QCOMPARE(finished.size(), 1);

    QCOMPARE(SortedByPort(log.suites), suites);
    QCOMPARE(finished[0].at(0).toInt(), exit);
    QCOMPARE(batch.ExitStatus(), exit);
    QVERIFY(!out.isEmpty());
    QCOMPARE(out.last(), summary);
    // With several ports every line but the closing count says whose it is; with one, none.
    for (const QString& line : out.mid(0, out.size() - 1)) {
        const bool labelled =
            line.startsWith(QStringLiteral("A  ")) || line.startsWith(QStringLiteral("B  "));
        QVERIFY2(labelled == (ports.size() > 1), qPrintable(line));
    }
    // The JUnit file has every suite, as it ended.
    QString error;
    QVERIFY2(junit.Commit(&error), qPrintable(error));
    QCOMPARE(JunitSuiteNames(junitPath), log.names);
    for (const std::unique_ptr<CMSComm>& comm : rack.comms)
        QVERIFY(!comm->GetPortOpen());
}

void RunRulesTest::opening_data()
{
    QTest::addColumn<QByteArrayList>("scripts");
    QTest::addColumn<QString>("ports"); // as in rules()
    QTest::addColumn<bool>("failFast");
    QTest::addColumn<QStringList>("suites");
    QTest::addColumn<int>("exit");

    const QByteArray key = "send Key;\nexpect $on_key* within 20000\n";
    const QString lost = QStringLiteral("not run: the port was lost");
    QTest::newRow("one of several fails its own suites, the others run")
        << QByteArrayList{key, key} << "axa" << false
        << QStringList{"A a.ots on A: PP",           "A b.ots on A: PP",
                       "B a.ots on B: FS / " + lost, "B b.ots on B: -- / " + lost,
                       "C a.ots on C: PP",           "C b.ots on C: PP"}
        << 2;
    QTest::newRow("ports behind a serial server run beside a local one")
        << QByteArrayList{key} << "ast" << false
        << QStringList{"A a.ots on A: PP", "B a.ots on B: PP", "C a.ots on C: PP"} << 0;
    QTest::newRow("a refused address fails its own suites")
        << QByteArrayList{key, key} << "ra" << false
        << QStringList{"A a.ots on A: FS / " + lost, "A b.ots on A: -- / " + lost,
                       "B a.ots on B: PP", "B b.ots on B: PP"}
        << 2;
    // Nothing is checked on a port still connecting: the first step waits, and fails with the
    // connection.
    QTest::newRow("a server that never negotiates fails the first step")
        << QByteArrayList{"expect-none $on_* for 100\nsend Key;\n"} << "n" << false
        << QStringList{"A a.ots: FS / " + lost} << 2;
    QTest::newRow("none opens") << QByteArrayList{key} << "xx" << false
                                << QStringList{"A a.ots on A: FS / " + lost,
                                               "B a.ots on B: FS / " + lost}
                                << 2;
    // Its failure comes at the start, before the other port's first step.
    QTest::newRow("under fail-fast it stops the others")
        << QByteArrayList{key} << "ax" << true
        << QStringList{"A a.ots on A: SS / not run: a step failed on B (--fail-fast)",
                       "B a.ots on B: FS / " + lost}
        << 2;
}

void RunRulesTest::opening()
{
    QFETCH(QByteArrayList, scripts);
    QFETCH(QString, ports);
    QFETCH(bool, failFast);
    QFETCH(QStringList, suites);
    QFETCH(int, exit);

    RunSettings settings;
    settings.failFast = failFast;
    BatchRun batch(Parse(scripts), settings);
    const QTemporaryDir dir;
    Rack rack;
    AddPorts(batch, ports, dir.path(), rack);
    SuiteLog log;
    QStringList out;
    RunConsole console([&out](const QString& line) { out << line; }, [](const QString&) {});
    batch.AddSink(log);
    batch.AddSink(console);
    QSignalSpy finished(&batch, &BatchRun::Finished);
    batch.Begin();
    Drive(batch, rack.peers, log, finished, 0, -1);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(SortedByPort(log.suites), suites);
    QCOMPARE(batch.ExitStatus(), exit);
    // The failed step says why the port did not open, naming it.
    for (int i = 0; i < ports.size(); ++i) {
        if (rack.named[i].isEmpty())
            continue;
        const QString failure = (ports.size() > 1 ? Letter(u'A', std::size_t(i)) + "  " : "") +
                                QStringLiteral("FAIL a.ots:1  ");
        QVERIFY2(std::any_of(out.begin(), out.end(),
                             [&](const QString& line) {
                                 return line.startsWith(failure) && line.contains(rack.named[i]);
                             }),
                 qPrintable(out.join(u'\n')));
    }
}

QTEST_GUILESS_MAIN(RunRulesTest)
#include "tst_run_rules.moc"
