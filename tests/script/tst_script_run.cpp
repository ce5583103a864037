// orvexa-run as a CI job runs it: the virtual module in its own process over a real
// pseudo-terminal, or a pseudo-terminal this test holds standing in for a module on --device.
#include "module/EventEncoder.h"
#include "results/LatencyStats.h"
#include "results/ResultsFile.h"
#include "support/CodePage.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/PseudoTerminal.h"
#include "tests/common/TempConfigHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <optional>

namespace {

struct Outcome
{
    int exit = -1;
    QString out;
    QString err;
};

} // namespace

class ScriptRunTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void virtualRuns_data();
    void virtualRuns();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void realPortSendsAsTheConsole();
    void virtualStepsLeftToAPerson();
    void lostPortEndsTheRun();
    void interruptWritesResults();
    void signalsLeaveNoEarlierResult_data();
    void signalsLeaveNoEarlierResult();
    void junitRefused_data();
    void junitRefused();
    void junitOnAFullDisk_data();
    void junitOnAFullDisk();
    void outOfMemoryIsAnError();
    void resultsFileMatchesTheRun();
    void examplesPass();
    void updateReferencesWritesWhatItSays_data();
    void updateReferencesWritesWhatItSays();
    void answerDelayHoldsEachReport_data();
    void answerDelayHoldsEachReport();
    void baselineFlagsTheSlowerModule_data();
    void baselineFlagsTheSlowerModule();

private:
    QString Write(const QString& name, const QByteArray& content);
    void Start(QProcess& process, const QStringList& arguments);
    Outcome Run(const QStringList& arguments);
    QByteArray Junit() const;

    std::unique_ptr<TempConfigHome> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void ScriptRunTest::init()
{
    m_home = std::make_unique<TempConfigHome>();
    m_dir = std::make_unique<QTemporaryDir>();
}

QString ScriptRunTest::Write(const QString& name, const QByteArray& content)
{
    QFile file(m_dir->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    return file.fileName();
}

void ScriptRunTest::Start(QProcess& process, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ORVEXA_RUN_EXE), arguments);
}

Outcome ScriptRunTest::Run(const QStringList& arguments)
{
    QProcess process;
    Start(process, arguments);
    Outcome outcome;
    if (!process.waitForFinished(60000))
        return outcome;
    outcome.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

// The JUnit file's content; a file that is no well-formed XML reads as its parser's complaint.
QByteArray ScriptRunTest::Junit() const
{
    QFile file(m_dir->filePath(QStringLiteral("results.xml")));
    const QByteArray xml = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QXmlStreamReader reader(xml);
    while (!reader.atEnd())
        reader.readNext();
    return reader.hasError() && !xml.isEmpty()
               ? "not XML: " + reader.errorString().toUtf8() + '\n' + xml
               : xml;
}

void ScriptRunTest::virtualRuns_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exit");
    // Fragments that must appear, in this order, in standard output (then standard error), and
    // in the JUnit file; "!" before a fragment: must not appear.
    QTest::addColumn<QStringList>("output");
    QTest::addColumn<QStringList>("junit");

    const QByteArray button = "send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n";
    QTest::newRow("passing")
        << button + "touch 50,50\nexpect $on_click (down : ctrl 1)\nexpect $on_click (up*\n"
        << QStringList() << 0
        << QStringList{"ok   ", ":4  expect $on_click (down : ctrl 1)  ", " ms\n",
                       "2 passed, 0 failed"}
        << QStringList{"tests=\"2\" failures=\"0\"", "name=\"line 4: expect $on_click (down",
                       "!<failure"};
    QTest::newRow("order is checked")
        << button + "touch 50,50\nexpect $on_click (up*\nexpect $on_click (down* within 200\n"
        << QStringList() << 1
        << QStringList{"FAIL ", ":5  expect $on_click (down* within 200: no report matched",
                       "last 2 reports seen:", "$on_click (down : ctrl 1)", "1 passed, 1 failed"}
        << QStringList{"failures=\"1\"", "<failure message=\"no report matched within 200 ms\"",
                       "expected: $on_click (down*", "$on_click (up : ctrl 1)"};
    QTest::newRow("expect fails and the run goes on")
        << button + "expect $on_check* within 100\nwait 1\nkey 65\nexpect $on_key*\n"
        << QStringList() << 1 << QStringList{"FAIL ",           "expect $on_check* within 100",
                                             "no reports seen", "ok   ",
                                             "expect $on_key*", "1 passed, 1 failed"}
        << QStringList{"<failure", "expected: $on_check*"};
    QTest::newRow("fail-fast skips the rest")
        << button + "expect $on_check* within 100\nkey 65\nexpect $on_key*\n"
        << QStringList{QStringLiteral("--fail-fast")} << 1
        << QStringList{"FAIL ", "skip ", "key 65: not run", "0 passed, 1 failed"}
        << QStringList{"<failure", "<skipped message=\"not run"};
    QTest::newRow("expect-none fails on a match")
        << button + "touch 50,50\nexpect-none $on_click (up* for 20000\n"
        << QStringList() << 1
        << QStringList{"FAIL ", "a matching report arrived: $on_click (up : ctrl 1)"}
        << QStringList{"failures=\"1\""};
    QTest::newRow("screen passes")
        << QByteArray("send MakeTestEnvironment;\nsend BoxFill 0,0,799,479,&H102030;\n"
                      "screen same.png\nscreen near.png tolerance 1\n")
        << QStringList() << 0 << QStringList{"2 passed, 0 failed"}
        << QStringList{"tests=\"2\" failures=\"0\""};
    QTest::newRow("screen fails with its pictures")
        << QByteArray("send MakeTestEnvironment;\nsend BoxFill 0,0,799,479,&H102030;\n"
                      "screen near.png\n")
        << QStringList() << 1
        << QStringList{"FAIL ", "384000 pixels differ by more than 0 (largest difference 1)",
                       "script.3.difference.png"}
        << QStringList{"<failure message=\"384000 pixels differ"};
    QTest::newRow("missing reference")
        << QByteArray("send Clear;\n\nscreen gone.png\n") << QStringList() << 2
        << QStringList{"!ok ", "script.ots:3: no reference picture"} << QStringList{};
    QTest::newRow("reference of another size")
        << QByteArray("screen small.png\n") << QStringList() << 2
        << QStringList{"script.ots:1: ", "is 10 x 10, not 800 x 480"} << QStringList{};
    QTest::newRow("syntax errors, every one")
        << QByteArray("send Clear;\nwait soon\nexpect\n") << QStringList() << 2
        << QStringList{"!ok ", "script.ots:2: wait takes", "script.ots:3: expect needs"}
        << QStringList{};
    QTest::newRow("unwritable JUnit file")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--junit"), QStringLiteral("/nonexistent/r.xml")} << 2
        << QStringList{"!ok ", "cannot write the JUnit file \"/nonexistent/r.xml\""}
        << QStringList{};
    QTest::newRow("virtual steps left to a person, on the virtual module")
        << QByteArray("touch 1,1\n") << QStringList{QStringLiteral("--skip-virtual-steps")} << 2
        << QStringList{"!ok ", "--skip-virtual-steps is for a real module"} << QStringList{};
    QTest::newRow("CR line ends")
        << QByteArray("key 0x31\rexpect $on_key_press (ascii code=&H31)\r") << QStringList() << 0
        << QStringList{"2 steps ran, 1 of them a check: 1 passed, 0 failed"}
        << QStringList{"tests=\"1\" failures=\"0\""};
    // The statement is never ended, so the module does nothing; the run must not read as a pass.
    QTest::newRow("nothing checked")
        << QByteArray("send Clear\n") << QStringList() << 2
        << QStringList{"ok   ",
                       "1 step ran, 0 of them checks: 0 passed, 0 failed; nothing was checked",
                       "script.ots:1: warning: the text sent does not end with \";\"",
                       "orvexa-run: nothing was checked"}
        << QStringList{"tests=\"0\""};
    QTest::newRow("prompt wait without its option")
        << QByteArray("touch 1,1\n")
        << QStringList{QStringLiteral("--prompt-wait"), QStringLiteral("100")} << 2
        << QStringList{"!ok ", "--prompt-wait goes with --skip-virtual-steps"} << QStringList{};
    QTest::newRow("reference that is a pipe")
        << QByteArray("screen pipe.png\n") << QStringList() << 2
        << QStringList{"!ok ", "script.ots:1: the reference picture", "is not a regular file"}
        << QStringList{"<error message=\"", "is not a regular file"};
    QTest::newRow("character outside code page 949")
        << QByteArray("send Print '\xC3\xA9',1,1;\n") << QStringList() << 2
        << QStringList{"!ok ", "script.ots:1: \"\xC3\xA9\" (U+00E9) cannot be sent"}
        << QStringList{"cannot be sent"};
    QTest::newRow("unknown reference update")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--update-references"), QStringLiteral("some")} << 2
        << QStringList{"!ok ", "--update-references takes missing, failed or all, not \"some\""}
        << QStringList{};
    QTest::newRow("screen with masks and max-diff fails past its share")
        << QByteArray("send MakeTestEnvironment;\nsend BoxFill 0,0,799,479,&H102030;\n"
                      "send BoxFill 0,0,9,9,&HFFFFFF;\n"
                      "screen same.png mask 0,0,10,5 max-diff 0.01%\n")
        << QStringList() << 1
        << QStringList{"FAIL ", "50 pixels differ by more than 0 (largest difference 239), "
                                "0.014% of the 383950 pixels compared, more than max-diff 0.01%"}
        << QStringList{"failures=\"1\""};
    QTest::newRow("answer delay out of range")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--answer-delay"), QStringLiteral("60001")} << 2
        << QStringList{"!ok ", "--answer-delay takes milliseconds, 0 to 60000, not \"60001\""}
        << QStringList{};
    QTest::newRow("repeat") << QByteArray("key 0x31\nexpect $on_key_press (ascii code=&H31)\n")
                            << QStringList{QStringLiteral("--repeat"), QStringLiteral("2")} << 0
                            << QStringList{"(run 1)", "(run 2)", "2 passed, 0 failed"}
                            << QStringList{"script.ots (run 1)", "script.ots (run 2)"};
    QTest::newRow("latencies over every round")
        << QByteArray("key 0x31\nexpect $on_key_press (ascii code=&H31)\n")
        << QStringList{QStringLiteral("--repeat"), QStringLiteral("3")} << 0
        << QStringList{"(run 3)", "latency (ms)  count      min      p50      p95      max  step",
                       "                  3 ", "script.ots:2  expect $on_key_press",
                       "3 passed, 0 failed"}
        << QStringList{"script.ots (run 3)", "<testsuite name=\"orvexa-run latency\" tests=\"0\"",
                       "script.ots:2 p50_ms\" value=\"", "script.ots:2 p95_ms\" value=\""};
    QTest::newRow("no expect, no latency table")
        << QByteArray("send Clear;\nexpect-none $on_key* for 1\n") << QStringList() << 0
        << QStringList{"!latency (ms)"} << QStringList{"!latency"};
    QTest::newRow("thresholds without a baseline")
        << QByteArray("send Clear;\n") << QStringList{QStringLiteral("--fail-on-slower")} << 2
        << QStringList{"!ok ", "go with --baseline, which is not given"} << QStringList{};
    QTest::newRow("threshold that is no number")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--baseline"), QStringLiteral("b.json"),
                       QStringLiteral("--slower-by"), QStringLiteral("much")}
        << 2 << QStringList{"!ok ", "--slower-by takes a number from 0 to", "not \"much\""}
        << QStringList{};
    QTest::newRow("baseline that is not there")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--baseline"), QStringLiteral("/nonexistent/b.json")} << 2
        << QStringList{"!ok ", "cannot read the baseline: /nonexistent/b.json: no such file"}
        << QStringList{};
    QTest::newRow("results path that is a folder")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--results"), QStringLiteral("/tmp")} << 2
        << QStringList{"!ok ", "cannot write \"/tmp\""} << QStringList{};
    QTest::newRow("report over the script")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--report"), QStringLiteral("SCRIPT")} << 2
        << QStringList{"!ok ", "/script.ots\": it is the script"} << QStringList{};
    QTest::newRow("results over the JUnit file")
        << QByteArray("send Clear;\n")
        << QStringList{QStringLiteral("--results"), QStringLiteral("JUNIT")} << 2
        << QStringList{"!ok ", "/results.xml\": another of the run's files goes there"}
        << QStringList{};
}

void ScriptRunTest::virtualRuns()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, options);
    QFETCH(int, exit);
    QFETCH(QStringList, output);
    QFETCH(QStringList, junit);

    QImage screen(800, 480, QImage::Format_RGB32);
    screen.fill(qRgb(0x10, 0x20, 0x30));
    QVERIFY(screen.save(m_dir->filePath(QStringLiteral("same.png"))));
    screen.fill(qRgb(0x11, 0x20, 0x30));
    QVERIFY(screen.save(m_dir->filePath(QStringLiteral("near.png"))));
    QVERIFY(QImage(10, 10, QImage::Format_RGB32).save(m_dir->filePath("small.png")));
    QVERIFY(::mkfifo(QFile::encodeName(m_dir->filePath(QStringLiteral("pipe.png"))).constData(),
                     0600) == 0);
    const QString path = Write(QStringLiteral("script.ots"), script);

    QStringList arguments = options;
    arguments.replaceInStrings(QStringLiteral("SCRIPT"), path);
    arguments.replaceInStrings(QStringLiteral("JUNIT"),
                               m_dir->filePath(QStringLiteral("results.xml")));
    if (!arguments.contains(QStringLiteral("--junit")))
        arguments << QStringLiteral("--junit") << m_dir->filePath(QStringLiteral("results.xml"));
    const Outcome outcome =
        Run(arguments << QStringLiteral("--speed") << QStringLiteral("230400") << path);
    QVERIFY2(outcome.exit == exit, qPrintable(outcome.out + outcome.err));

    const auto check = [](const QString& text, const QStringList& fragments) {
        qsizetype at = 0;
        for (const QString& fragment : fragments) {
            if (fragment.startsWith(u'!')) {
                if (text.contains(fragment.mid(1)))
                    return QStringLiteral("unexpected \"%1\" in:\n%2").arg(fragment.mid(1), text);
                continue;
            }
            const qsizetype found = text.indexOf(fragment, at);
            if (found < 0)
                return QStringLiteral("no \"%1\" in order in:\n%2").arg(fragment, text);
            at = found + fragment.size();
        }
        return QString();
    };
    const QString outputFault = check(outcome.out + outcome.err, output);
    QVERIFY2(outputFault.isEmpty(), qPrintable(outputFault));
    const QString junitFault = check(QString::fromUtf8(Junit()), junit);
    QVERIFY2(junitFault.isEmpty(), qPrintable(junitFault));

    if (QTest::currentDataTag() == QByteArrayView("screen fails with its pictures")) {
        // Beside the results: the actual screen, and where it differs.
        const QImage actual(m_dir->filePath(QStringLiteral("script.3.actual.png")));
        QCOMPARE(actual.pixel(400, 240), qRgb(0x10, 0x20, 0x30));
        const QImage difference(m_dir->filePath(QStringLiteral("script.3.difference.png")));
        QCOMPARE(difference.size(), QSize(800, 480));
        QCOMPARE(difference.pixel(0, 0), qRgb(255, 0, 0));
    }
}

void ScriptRunTest::refusedBeforeSending_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("busy"); // another program holds the port
    QTest::addColumn<QString>("error");

    QTest::newRow("syntax error after sends")
        << QByteArray("send Clear;\nsend Line 1,1,2,2;\nexpect x within never\n") << false
        << "script.ots:3: within takes milliseconds";
    QTest::newRow("virtual-only step") << QByteArray("send Clear;\n# then\ntouch 10,10\n") << false
                                       << "script.ots:3: \"touch 10,10\" needs the virtual module";
    QTest::newRow("busy port") << QByteArray("send Clear;\n") << true
                               << ": in use by another program";
}

void ScriptRunTest::refusedBeforeSending()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, busy);
    QFETCH(QString, error);

    PseudoTerminal module;
    QVERIFY(module.isOpen());
    const int holder = busy ? ::open(QFile::encodeName(module.devicePath()).constData(),
                                     O_RDWR | O_NOCTTY | O_CLOEXEC)
                            : -1;
    if (busy)
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
    const auto release = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });
    const Outcome outcome = Run({QStringLiteral("--device"), module.devicePath(),
                                 Write(QStringLiteral("script.ots"), script)});
    QCOMPARE(outcome.exit, 2);
    QVERIFY2(outcome.err.contains(error), qPrintable(outcome.err));
    QCOMPARE(module.ReadFor(100), QByteArray());
}

void ScriptRunTest::realPortSendsAsTheConsole()
{
    PseudoTerminal module;
    QVERIFY(module.isOpen());
    QProcess run;
    Start(run, {QStringLiteral("--device"), module.devicePath(), QStringLiteral("--speed"),
                QStringLiteral("57600"), QStringLiteral("--junit"),
                m_dir->filePath(QStringLiteral("results.xml")),
                Write(QStringLiteral("script.ots"),
                      "send Print '한글',1,1;\nsendhex 00 FF\nexpect $on_key_press* within "
                      "20000\n")});
    // The text goes in the module's code page, then the raw bytes.
    const QByteArray expected = ToCp949(QStringLiteral("Print '한글',1,1;")) + "\x00\xFF"_qba;
    QCOMPARE(module.ReadExactly(expected.size(), 20000), expected);
    QCOMPARE(module.Speed(), 57600);
    QVERIFY(module.Write(EncodeReport(0x85, {false, {0x41}}, ReportForm::Text)));
    QVERIFY(run.waitForFinished(20000));
    const QByteArray out = run.readAllStandardOutput();
    QVERIFY2(run.exitCode() == 0, out.constData());
    QVERIFY(out.contains("1 passed, 0 failed"));
}

void ScriptRunTest::virtualStepsLeftToAPerson()
{
    PseudoTerminal module;
    QVERIFY(module.isOpen());
    QProcess run;
    Start(run,
          {QStringLiteral("--device"), module.devicePath(), QStringLiteral("--skip-virtual-steps"),
           QStringLiteral("--prompt-wait"), QStringLiteral("300"), QStringLiteral("--junit"),
           m_dir->filePath(QStringLiteral("results.xml")),
           Write(QStringLiteral("script.ots"),
                 "send Clear;\ntouch 55,55\nexpect $on_click (down : ctrl 1) within 20000\n"
                 "screen gone.png\n")});
    QCOMPARE(module.ReadExactly(6, 20000), QByteArray("Clear;"));
    // The person reads the prompt and touches the button.
    QTRY_VERIFY_WITH_TIMEOUT(
        (run.waitForReadyRead(100), run.peek(1 << 16).contains(":2  touch 55,55  (by hand")),
        20000);
    QVERIFY(module.Write(EncodeReport(0x81, {true, {1}}, ReportForm::Binary)));
    QVERIFY(run.waitForFinished(20000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    QVERIFY2(run.exitCode() == 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral(":2  touch 55,55: left to the person at the module")) &&
                 out.contains(QStringLiteral(":4  screen gone.png: left to the person")) &&
                 out.contains(QStringLiteral("1 passed, 0 failed")),
             qPrintable(out));
    // Nothing compared the screen, so it is no pass.
    QVERIFY(Junit().contains("tests=\"2\" failures=\"0\" errors=\"0\" skipped=\"1\""));
}

void ScriptRunTest::lostPortEndsTheRun()
{
    auto module = std::make_unique<PseudoTerminal>();
    QProcess run;
    Start(run, {QStringLiteral("--device"), module->devicePath(), QStringLiteral("--junit"),
                m_dir->filePath(QStringLiteral("results.xml")),
                Write(QStringLiteral("script.ots"),
                      "send Clear;\nexpect $on_click* within 60000\nsend Clear;\nexpect x\n")});
    QCOMPARE(module->ReadExactly(6, 20000), QByteArray("Clear;"));
    module.reset(); // the module goes away while the runner waits for its report
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 2);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    QVERIFY2(out.contains(QRegularExpression(":2  expect \\$on_click\\* within 60000: .+")),
             qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral(":4  expect x: not run: the port was lost")),
             qPrintable(out));
    const QByteArray junit = Junit();
    QVERIFY(junit.contains("tests=\"2\" failures=\"1\" errors=\"0\" skipped=\"1\""));
}

void ScriptRunTest::interruptWritesResults()
{
    QProcess run;
    Start(run, {QStringLiteral("--junit"), m_dir->filePath(QStringLiteral("results.xml")),
                Write(QStringLiteral("script.ots"),
                      "key 65\nexpect $on_key*\nexpect-none $on_* for 600000\nkey 66\n"
                      "expect $on_key*\n")});
    QTRY_VERIFY_WITH_TIMEOUT(
        (run.waitForReadyRead(100), run.peek(1 << 16).contains("expect $on_key*  ")), 20000);
    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(run.processId()), SIGINT);
    QVERIFY(run.waitForFinished(20000));
    QCOMPARE(run.exitCode(), 128 + SIGINT);
    // At once, not at the end of the ten-minute step it interrupted; wide for a loaded machine.
    QVERIFY(stopping.elapsed() < 5000);
    const QByteArray junit = Junit();
    QVERIFY2(junit.contains("tests=\"3\" failures=\"0\" errors=\"0\" skipped=\"2\""),
             junit.constData());
    QVERIFY(junit.contains("<skipped message=\"not run: interrupted\"/>"));
}

void ScriptRunTest::signalsLeaveNoEarlierResult_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("whileReading"); // else during a step
    QTest::addColumn<QByteArray>("junit");  // what the file says afterwards

    QTest::newRow("hang-up during a step")
        << int(SIGHUP) << false << QByteArray("<skipped message=\"not run: interrupted\"/>");
    QTest::newRow("terminate during a step")
        << int(SIGTERM) << false << QByteArray("<skipped message=\"not run: interrupted\"/>");
    QTest::newRow("interrupt while the scripts are read")
        << int(SIGINT) << true << QByteArray("<skipped message=\"not run: interrupted\"/>");
    QTest::newRow("killed during a step")
        << int(SIGKILL) << false << QByteArray("the run did not finish, so it wrote no results");
}

void ScriptRunTest::signalsLeaveNoEarlierResult()
{
    QFETCH(int, signal);
    QFETCH(bool, whileReading);
    QFETCH(QByteArray, junit);

    const QString results = Write(QStringLiteral("results.xml"), "<testsuites>EARLIER RUN");
    QStringList arguments{QStringLiteral("--junit"), results,
                          Write(QStringLiteral("a.ots"), "key 65\nexpect $on_key*\nsend Clear\n"
                                                         "expect-none $on_* for 600000\n")};
    // Long enough to read that the signal comes while it is read, or soon after.
    if (whileReading)
        arguments << Write(QStringLiteral("b.ots"), QByteArray("wait 0\n").repeated(3'000'000));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    Start(run, arguments);
    // The first script's warning is printed once it has been read; its expect once it passed.
    const QByteArray ready = whileReading ? "warning: the text sent" : "expect $on_key*  ";
    QTRY_VERIFY_WITH_TIMEOUT((run.waitForReadyRead(100), run.peek(1 << 16).contains(ready)), 20000);
    ::kill(static_cast<pid_t>(run.processId()), signal);
    QVERIFY(run.waitForFinished(20000));
    if (signal == SIGKILL)
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);
    else
        QCOMPARE(run.exitCode(), 128 + signal);
    const QByteArray written = Junit();
    QVERIFY2(!written.contains("EARLIER RUN") && written.contains(junit), written.constData());
}

void ScriptRunTest::junitRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");

    QTest::newRow("a script") << "script"
                              << "it is the script";
    QTest::newRow("a script by a symbolic link") << "symlink"
                                                 << "it is the script";
    QTest::newRow("a script by a hard link") << "hardlink"
                                             << "it is the script";
    QTest::newRow("a pipe") << "fifo"
                            << "not a regular file";
    QTest::newRow("a device") << "device"
                              << "not a regular file";
}

void ScriptRunTest::junitRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);

    const QByteArray content = "key 0x31\nexpect $on_key_press (ascii code=&H31)\n";
    const QString script = Write(QStringLiteral("script.ots"), content);
    const QString other = Write(QStringLiteral("other.ots"), content);
    QString target = m_dir->filePath(QStringLiteral("target"));
    const QByteArray path = QFile::encodeName(target);
    if (kind == u"script") {
        target = script;
    } else if (kind == u"symlink") {
        QVERIFY(QFile::link(script, target));
    } else if (kind == u"hardlink") {
        QVERIFY(::link(QFile::encodeName(script).constData(), path.constData()) == 0);
    } else if (kind == u"fifo") {
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    } else if (::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
        QSKIP("making a device node needs root");
    }
    // The JUnit path comes first, as a slip on the command line puts it.
    const Outcome outcome = Run({QStringLiteral("--junit"), target, other, script});
    QCOMPARE(outcome.exit, 2);
    QVERIFY2(outcome.err.contains(QStringLiteral("cannot write the JUnit file")) &&
                 outcome.err.contains(error),
             qPrintable(outcome.err));
    QVERIFY(!outcome.out.contains(QStringLiteral("ok ")));
    QFile file(script);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    struct stat info = {};
    QVERIFY(::lstat(path.constData(), &info) == 0 || kind == u"script");
    if (kind == u"fifo")
        QVERIFY(S_ISFIFO(info.st_mode));
    if (kind == u"device")
        QVERIFY(S_ISCHR(info.st_mode));
}

void ScriptRunTest::junitOnAFullDisk_data()
{
    QTest::addColumn<int>("room"); // bytes a file may grow to
    QTest::addColumn<QByteArray>("left");

    // The report that says the run has not finished fits; the run's own does not.
    QTest::newRow("the report does not fit")
        << 2048 << QByteArray("the run did not finish, so it wrote no results");
    QTest::newRow("nothing fits") << 16 << QByteArray("<testsuites>EARLIER RUN</testsuites>");
}

void ScriptRunTest::junitOnAFullDisk()
{
    QFETCH(int, room);
    QFETCH(QByteArray, left);

    const QString results =
        Write(QStringLiteral("results.xml"), "<testsuites>EARLIER RUN</testsuites>");
    const QString script =
        Write(QStringLiteral("script.ots"),
              QByteArray("key 0x31\nexpect $on_key_press (ascii code=&H31)\n").repeated(60));
    Outcome outcome;
    {
        const FileSizeLimit limit(static_cast<rlim_t>(room));
        QVERIFY(limit.set);
        outcome = Run({QStringLiteral("--junit"), results, script});
    }
    QCOMPARE(outcome.exit, 2);
    QVERIFY2(outcome.err.contains(QStringLiteral("cannot write the JUnit file")) &&
                 outcome.err.contains(QStringLiteral("too large")),
             qPrintable(outcome.err));
    // The file is whole, and no result of this run.
    const QByteArray junit = Junit();
    QVERIFY2(junit.contains(left) && junit.trimmed().endsWith("</testsuites>"), junit.constData());
}

void ScriptRunTest::outOfMemoryIsAnError()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer ends a process whose allocation fails before it can answer");
#endif
    // What a run takes to reach its steps, read from the kernel while one runs. With glibc's
    // memory arenas per thread, that figure would depend on how many threads had allocated by
    // then, and with a high one the big script could fit; one arena keeps it a measure.
    qputenv("MALLOC_ARENA_MAX", "1");
    const auto restore = qScopeGuard([] { qunsetenv("MALLOC_ARENA_MAX"); });
    long peakKiB = -1;
    {
        QProcess run;
        Start(run, {Write(QStringLiteral("small.ots"),
                          "key 65\nexpect $on_key*\nexpect-none $on_* for 600000\n")});
        QTRY_VERIFY_WITH_TIMEOUT(
            (run.waitForReadyRead(100), run.peek(1 << 16).contains("expect $on_key*  ")), 20000);
        QFile status(QStringLiteral("/proc/%1/status").arg(run.processId()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmPeak:"))
                peakKiB = line.mid(7).trimmed().split(' ').value(0).toLong();
        run.kill();
        run.waitForFinished();
    }
    QVERIFY(peakKiB > 0);
    // Room for that and 32 MiB more: a script of 7,000,000 steps does not fit.
    const QString big =
        Write(QStringLiteral("big.ots"), QByteArray("wait 0\n").repeated(7'000'000));
    QProcess run;
    run.setChildProcessModifier([peakKiB] {
        const rlim_t bytes = rlim_t(peakKiB + 32 * 1024) * 1024;
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_AS, &limit);
    });
    Start(run, {QStringLiteral("--junit"), m_dir->filePath(QStringLiteral("results.xml")), big});
    QVERIFY(run.waitForFinished(60000));
    const QByteArray err = run.readAllStandardError();
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.exitCode() == 2 && err.contains("memory"), err.constData());
    QVERIFY(Junit().contains("<error message=\""));
}

void ScriptRunTest::examplesPass()
{
    const QStringList examples =
        QDir(QStringLiteral(ORVEXA_EXAMPLES_DIR)).entryList({QStringLiteral("*.ots")});
    QVERIFY(examples.size() >= 4);
    QStringList arguments{QStringLiteral("--virtual"), QStringLiteral("--speed"),
                          QStringLiteral("230400"), QStringLiteral("--junit"),
                          m_dir->filePath(QStringLiteral("results.xml"))};
    for (const QString& example : examples)
        arguments << QStringLiteral(ORVEXA_EXAMPLES_DIR "/") + example;
    const Outcome outcome = Run(arguments);
    QVERIFY2(outcome.exit == 0, qPrintable(outcome.out + outcome.err));
    const QByteArray junit = Junit();
    // A suite per example, and the one of the latencies.
    QCOMPARE(junit.count("<testsuite "), examples.size() + 1);
    QVERIFY(!junit.contains("<failure"));
    QVERIFY(!junit.contains("<skipped"));
}

// The results file read back and matched with what the run printed, step by step and round by
// round, and with the script it ran.
void ScriptRunTest::resultsFileMatchesTheRun()
{
    QImage other(800, 480, QImage::Format_RGB32);
    other.fill(qRgb(0x11, 0x20, 0x30));
    QVERIFY(other.save(m_dir->filePath(QStringLiteral("near.png"))));
    const QByteArray text = "send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n"
                            "touch 50,50\nexpect $on_click (down : ctrl 1)\n"
                            "# the screen is not this colour\nscreen near.png\n"
                            "expect $on_click (up*\n";
    const QString script = Write(QStringLiteral("script.ots"), text);
    const QString resultsPath = m_dir->filePath(QStringLiteral("run.json"));
    const Outcome outcome = Run(
        {QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--results"), resultsPath,
         QStringLiteral("--report"), m_dir->filePath(QStringLiteral("run.html")), script});
    QCOMPARE(outcome.exit, 1);

    RunResults results;
    QString error;
    QVERIFY2(LoadResults(resultsPath, results, error), qPrintable(error));
    QCOMPARE(results.scripts.size(), std::size_t(1));
    const ScriptInfo& info = results.scripts[0];
    QCOMPARE(info.path, script);
    QCOMPARE(info.sha256, ScriptDigest(text));
    QStringList steps;
    for (const StepInfo& step : info.steps)
        steps << QStringLiteral("%1 %2: %3").arg(step.line).arg(step.kind, step.source);
    QCOMPARE(steps,
             (QStringList{"1 send: send MakeTestEnvironment;", "2 send: send Button 1,20,40,90,70;",
                          "3 touch: touch 50,50", "4 expect: expect $on_click (down : ctrl 1)",
                          "6 screen: screen near.png", "7 expect: expect $on_click (up*"}));

    // Each printed step line, in order: "ok   PATH:LINE  SOURCE  12.3 ms" or "FAIL ...".
    QStringList printed;
    for (const QString& line : outcome.out.split(u'\n'))
        if (line.startsWith(QLatin1String("ok   ")) || line.startsWith(QLatin1String("FAIL ")))
            printed << line;
    QCOMPARE(results.runs.size(), std::size_t(2));
    qsizetype next = 0;
    for (int round = 1; round <= 2; ++round) {
        const ScriptRun& run = results.runs[std::size_t(round - 1)];
        QCOMPARE(run.port, QStringLiteral("virtual"));
        QCOMPARE(run.script, script);
        QCOMPARE(run.repeat, round);
        QVERIFY(run.startMs <= run.endMs);
        QCOMPARE(run.steps.size(), info.steps.size());
        for (const StepRun& step : run.steps) {
            const QString shown = printed.value(next++);
            const QString where = QStringLiteral("%1:%2  ").arg(script).arg(step.line);
            QVERIFY2(shown.contains(where), qPrintable(shown));
            QCOMPARE(step.status, shown.startsWith(QLatin1String("ok")) ? StepStatus::Passed
                                                                        : StepStatus::Failed);
            QVERIFY(run.startMs <= step.startMs && step.startMs <= step.endMs &&
                    step.endMs <= run.endMs);
            const bool expect = step.line == 4 || step.line == 7;
            if (expect)
                QVERIFY2(shown.endsWith(QStringLiteral("  %1 ms").arg(FormatMs(step.latencyMs))),
                         qPrintable(shown));
            else
                QCOMPARE(step.latencyMs, -1.0);
        }
        const StepRun& screen = run.steps[4];
        QCOMPARE(screen.status, StepStatus::Failed);
        QVERIFY2(screen.reason.startsWith(QLatin1String("384000 pixels differ")),
                 qPrintable(screen.reason));
        QCOMPARE(screen.reportsSeen.back(), QByteArray("$on_click (up : ctrl 1)"));
        QCOMPARE(screen.pictures.reference, m_dir->filePath(QStringLiteral("near.png")));
        QCOMPARE(screen.pictures.actual, m_dir->filePath(QStringLiteral("script.6.actual.png")));
        QVERIFY(QFile::exists(screen.pictures.difference));

        // The transcript: in time order, the statements as written, the reports decoded, and
        // each step's start and end around what it did.
        QStringList transcript;
        double last = run.startMs;
        for (const TranscriptEntry& entry : run.transcript) {
            QVERIFY(entry.atMs >= last);
            last = entry.atMs;
            switch (entry.kind) {
            case TranscriptEntry::Kind::StepStart:
                transcript << QStringLiteral("[%1").arg(entry.line);
                break;
            case TranscriptEntry::Kind::StepEnd:
                transcript << QStringLiteral("%1]").arg(entry.line);
                break;
            default:
                transcript << QString::fromUtf8(entry.text);
            }
        }
        QCOMPARE(transcript.mid(0, 8), (QStringList{"[1", "MakeTestEnvironment;", "1]", "[2",
                                                    "Button 1,20,40,90,70;", "2]", "[3", "3]"}));
        // The touch's reports may come before the expect starts or while it waits.
        const auto at = [&transcript](const char* text) {
            return transcript.indexOf(QString::fromLatin1(text));
        };
        QVERIFY2(at("3]") < at("$on_click (down : ctrl 1)") &&
                     at("$on_click (down : ctrl 1)") < at("4]") && at("[4") < at("4]") &&
                     at("$on_click (up : ctrl 1)") < at("7]") && at("4]") < at("[6"),
                 qPrintable(transcript.join(u' ')));
    }
    QCOMPARE(next, printed.size());
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("run.html"))));
}

void ScriptRunTest::answerDelayHoldsEachReport_data()
{
    QTest::addColumn<int>("delayMs");

    QTest::newRow("none") << 0;
    QTest::newRow("30 ms") << 30;
    QTest::newRow("200 ms") << 200;
}

void ScriptRunTest::answerDelayHoldsEachReport()
{
    QFETCH(int, delayMs);
    // The touch waits until the button's statement has run, so it finds the button; its reports
    // then wait their turn, in order.
    const QString path = Write(QStringLiteral("script.ots"),
                               "send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n"
                               "touch 50,50\nexpect $on_click (down : ctrl 1) within 10000\n"
                               "expect $on_click (up : ctrl 1) within 10000\n");
    const Outcome outcome =
        Run({QStringLiteral("--virtual"), QStringLiteral("--answer-delay"),
             QString::number(delayMs), QStringLiteral("--speed"), QStringLiteral("230400"), path});
    QVERIFY2(outcome.exit == 0, qPrintable(outcome.out + outcome.err));
    static const QRegularExpression latency(
        QStringLiteral(":(\\d+)  expect \\$on_click \\((down|up) : ctrl 1\\) within 10000  "
                       "([0-9.]+) ms\n"));
    QList<double> latencies;
    for (auto it = latency.globalMatch(outcome.out); it.hasNext();)
        latencies << it.next().captured(3).toDouble();
    QVERIFY2(latencies.size() == 2, qPrintable(outcome.out));
    // From the touch: the first report waits one delay, the second one more.
    QVERIFY2(latencies[0] >= delayMs && latencies[1] >= 2 * delayMs, qPrintable(outcome.out));
}

void ScriptRunTest::updateReferencesWritesWhatItSays_data()
{
    QTest::addColumn<QByteArray>("checks"); // screen steps after the screen is filled
    QTest::addColumn<QString>("mode");      // empty: no update
    QTest::addColumn<int>("exit");
    QTest::addColumn<QStringList>("written"); // reference pictures written, in order
    QTest::addColumn<QStringList>("failed");  // steps reported failed
    QTest::addColumn<int>("room");            // bytes a file may take, as on a full disk; 0: any

    // same.png is the screen, near.png differs by one in a channel, gone.png does not exist.
    const QByteArray all = "screen same.png\nscreen near.png\nscreen gone.png\n";
    QTest::newRow("none") << QByteArray("screen same.png\nscreen near.png\n") << QString() << 1
                          << QStringList{} << QStringList{"near.png"} << 0;
    QTest::newRow("missing") << all << "missing" << 1 << QStringList{"gone.png"}
                             << QStringList{"near.png", "gone.png"} << 0;
    QTest::newRow("failed") << QByteArray("screen same.png\nscreen near.png\n") << "failed" << 1
                            << QStringList{"near.png"} << QStringList{"near.png"} << 0;
    // Within the tolerance it passes, and its reference is still brought up to the screen.
    QTest::newRow("all") << QByteArray("screen near.png tolerance 1\nscreen same.png\n"
                                       "screen gone.png\n")
                         << "all" << 1 << QStringList{"near.png", "gone.png"}
                         << QStringList{"gone.png"} << 0;
    QTest::newRow("failed refuses a missing one before the run")
        << all << "failed" << 2 << QStringList{} << QStringList{} << 0;
    QTest::newRow("nothing to write")
        << QByteArray("screen same.png\n") << "all" << 0 << QStringList{} << QStringList{} << 0;
    // A reference that could not be written is told, and its step fails though it matched.
    QTest::newRow("all, on a full disk") << QByteArray("screen near.png tolerance 1\n") << "all"
                                         << 1 << QStringList{} << QStringList{"near.png"} << 100;
}

void ScriptRunTest::updateReferencesWritesWhatItSays()
{
    QFETCH(QByteArray, checks);
    QFETCH(QString, mode);
    QFETCH(int, exit);
    QFETCH(QStringList, written);
    QFETCH(QStringList, failed);
    QFETCH(int, room);

    QImage screen(800, 480, QImage::Format_RGB32);
    screen.fill(qRgb(0x10, 0x20, 0x30));
    QVERIFY(screen.save(m_dir->filePath(QStringLiteral("same.png"))));
    screen.fill(qRgb(0x11, 0x20, 0x30));
    QVERIFY(screen.save(m_dir->filePath(QStringLiteral("near.png"))));
    const QStringList names{"same.png", "near.png", "gone.png"};
    std::map<QString, QByteArray> before;
    for (const QString& name : names) {
        QFile file(m_dir->filePath(name));
        before[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    const QString path =
        Write(QStringLiteral("script.ots"),
              "send MakeTestEnvironment;\nsend BoxFill 0,0,799,479,&H102030;\n" + checks);
    QStringList arguments;
    if (room == 0)
        arguments << QStringLiteral("--junit") << m_dir->filePath(QStringLiteral("r.xml"));
    if (!mode.isEmpty())
        arguments << QStringLiteral("--update-references") << mode;
    Outcome outcome;
    {
        std::optional<FileSizeLimit> limit;
        if (room > 0)
            limit.emplace(static_cast<rlim_t>(room));
        outcome = Run(arguments << path);
    }
    const QString all = outcome.out + outcome.err;
    QVERIFY2(outcome.exit == exit, qPrintable(all));

    // Exactly the files listed changed, each now the actual screen.
    QStringList changed;
    for (const QString& name : names) {
        QFile file(m_dir->filePath(name));
        const QByteArray now = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (now == before[name])
            continue;
        changed << name;
        QCOMPARE(QImage(m_dir->filePath(name)).pixel(400, 240), qRgb(0x10, 0x20, 0x30));
    }
    QCOMPARE(changed, written);
    // The list at the end names them, and only them.
    QStringList listed;
    const qsizetype list = outcome.out.indexOf(QStringLiteral(" written:\n"));
    if (list >= 0)
        for (const QString& line : outcome.out.mid(list).split(u'\n').mid(1))
            if (line.startsWith(QLatin1String("  ")))
                listed << QFileInfo(line.mid(2)).fileName();
    QCOMPARE(listed, written);
    if (!mode.isEmpty() && exit != 2 && written.isEmpty())
        QVERIFY2(outcome.out.contains(QStringLiteral("no reference picture written")),
                 qPrintable(outcome.out));

    QStringList failedSteps;
    static const QRegularExpression fail(QStringLiteral("^FAIL \\S+  screen ([^\\s:]+)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = fail.globalMatch(outcome.out); it.hasNext();)
        failedSteps << it.next().captured(1);
    QCOMPARE(failedSteps, failed);

    // A failed reference written over is kept as it was compared, for the report to show.
    static const QRegularExpression kept(QStringLiteral("the reference as compared \"([^\"]+)\""));
    const QRegularExpressionMatch keptMatch = kept.match(outcome.out);
    QCOMPARE(keptMatch.hasMatch(), written.contains(QStringLiteral("near.png")) &&
                                       failed.contains(QStringLiteral("near.png")));
    if (keptMatch.hasMatch())
        QCOMPARE(QImage(keptMatch.captured(1)).pixel(400, 240), qRgb(0x11, 0x20, 0x30));
}

void ScriptRunTest::baselineFlagsTheSlowerModule_data()
{
    QTest::addColumn<int>("delayMs"); // the module's now; the baseline's is 0
    QTest::addColumn<int>("exit");
    QTest::addColumn<QList<int>>("slower"); // the lines flagged

    // Each report waits 5 ms more: every expect, and nothing else.
    QTest::newRow("a slower module") << 5 << 1 << QList<int>{4, 5, 7};
    QTest::newRow("the same module") << 0 << 0 << QList<int>{};
}

// A baseline of the virtual module at full speed, then a run against it with --fail-on-slower.
// On a loaded machine a quarter of the runs at full speed can take 10 ms and more; with 30 runs a
// side that moves neither a median nor the ranks far enough to flag a step, or to hide one.
void ScriptRunTest::baselineFlagsTheSlowerModule()
{
    QFETCH(int, delayMs);
    QFETCH(int, exit);
    QFETCH(QList<int>, slower);
    const QString script = Write(QStringLiteral("script.ots"),
                                 "send MakeTestEnvironment;\nsend Button 1,20,40,90,70;\n"
                                 "touch 50,50\nexpect $on_click (down : ctrl 1)\n"
                                 "expect $on_click (up : ctrl 1)\nkey 0x31\n"
                                 "expect $on_key_press (ascii code=&H31)\n");
    const QString baseline = m_dir->filePath(QStringLiteral("baseline.json"));
    const QStringList common{QStringLiteral("--virtual"), QStringLiteral("--speed"),
                             QStringLiteral("230400"), QStringLiteral("--repeat"),
                             QStringLiteral("30")};
    const Outcome before = Run(common + QStringList{QStringLiteral("--results"), baseline, script});
    QVERIFY2(before.exit == 0, qPrintable(before.out + before.err));
    const Outcome after =
        Run(common + QStringList{QStringLiteral("--answer-delay"), QString::number(delayMs),
                                 QStringLiteral("--baseline"), baseline,
                                 QStringLiteral("--fail-on-slower"), script});
    QVERIFY2(after.exit == exit, qPrintable(after.out + after.err));

    // The tables, without the step lines, on one line: a failure's message shows only one.
    QStringList tables;
    for (const QString& line : (before.out + after.out).split(u'\n'))
        if (!line.startsWith(QLatin1String("ok ")) && !line.startsWith(QLatin1String("== ")))
            tables << line.simplified();
    const QByteArray shown = tables.join(QStringLiteral(" | ")).toUtf8();
    QList<int> flagged;
    bool faster = false;
    static const QRegularExpression row(QStringLiteral("^(\\w[\\w ,]*?) +\\S+ .*:(\\d+)  \\S"));
    for (const QString& line : after.out.split(u'\n')) {
        const QRegularExpressionMatch match = row.match(line);
        if (!match.hasMatch() || !line.contains(script))
            continue;
        if (match.captured(1).contains(QLatin1String("slower")))
            flagged << match.captured(2).toInt();
        faster = faster || match.captured(1).contains(QLatin1String("faster"));
    }
    QVERIFY2(flagged == slower && !faster, shown.constData());
    if (slower.isEmpty())
        QVERIFY2(after.out.contains(QStringLiteral("no change since the baseline")),
                 shown.constData());
    else
        QVERIFY2(after.err.contains(QStringLiteral("3 steps got slower than in the baseline")),
                 qPrintable(after.err));
}

QTEST_GUILESS_MAIN(ScriptRunTest)
#include "tst_script_run.moc"
