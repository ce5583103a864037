#include "module/ModuleEngine.h"
#include "module/SamplePictures.h"
#include "script/JunitReport.h"
#include "script/RunCounts.h"
#include "script/ScreenCompare.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"
#include "scriptformat/Script.h"
#include "serial/CMSComm.h"
#include "support/FileReplace.h"
#include "support/SignalWatch.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

namespace {

constexpr int kDefaultPromptMs = 5000;

void Print(const QString& text)
{
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
}

void PrintError(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("orvexa-run: ") + text + u'\n'), stderr);
}

QString StepLine(const Script& script, const ScriptStep& step, const StepResult& result)
{
    const QString where = QStringLiteral("%1:%2").arg(script.path).arg(step.line);
    const QString source = script.Source(step);
    switch (result.state) {
    case StepResult::State::Passed:
        if (result.latencyMs >= 0)
            return QStringLiteral("ok   %1  %2  %3 ms")
                .arg(where, source)
                .arg(result.latencyMs, 0, 'f', 1);
        return QStringLiteral("ok   %1  %2").arg(where, source);
    case StepResult::State::Failed:
        return QStringLiteral("FAIL %1  %2: %3").arg(where, source, result.reason);
    default:
        return QStringLiteral("skip %1  %2: %3").arg(where, source, result.reason);
    }
}

struct Options
{
    enum class Target
    {
        Virtual,
        Port,
        Device,
    };
    Target target = Target::Virtual;
    int port = 0;
    QString device;
    int speed = 115200;
    QString junit;
    int repeat = 1;
    bool failFast = false;
    int promptMs = 0; // virtual-only steps are left to a person for this long; 0: refused
    QStringList scripts;
};

// Parses the command line; false (after saying why) for a usage error.
bool ReadOptions(QCoreApplication& application, Options& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs test scripts (.ots) against an OrvexaLCD module or the virtual module."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The console's port COM<n> (or n)."),
                                  QStringLiteral("COMn"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A serial device by its path."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption virtualModule(
        QStringLiteral("virtual"),
        QStringLiteral("The virtual module, in this process (the default)."));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Line speed (default 115200)."),
                                   QStringLiteral("BAUD"));
    const QCommandLineOption junit(QStringLiteral("junit"),
                                   QStringLiteral("Write JUnit XML to FILE."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption repeat(
        QStringLiteral("repeat"), QStringLiteral("Run the scripts N times."), QStringLiteral("N"));
    const QCommandLineOption failFast(QStringLiteral("fail-fast"),
                                      QStringLiteral("Stop at the first failed step."));
    const QCommandLineOption skipVirtual(
        QStringLiteral("skip-virtual-steps"),
        QStringLiteral("On a real module, print each touch, key, event and screen step for a "
                       "person to do, and wait for them."));
    const QCommandLineOption promptWait(
        QStringLiteral("prompt-wait"),
        QStringLiteral("How long each such step waits (default %1).").arg(kDefaultPromptMs),
        QStringLiteral("MS"));
    parser.addOptions(
        {port, device, virtualModule, speed, junit, repeat, failFast, skipVirtual, promptWait});
    parser.addPositionalArgument(QStringLiteral("SCRIPT"), QStringLiteral("Scripts to run."),
                                 QStringLiteral("SCRIPT..."));
    if (!parser.parse(application.arguments())) {
        PrintError(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);

    const int targets =
        int(parser.isSet(port)) + int(parser.isSet(device)) + int(parser.isSet(virtualModule));
    if (targets > 1) {
        PrintError(QStringLiteral("name one of --port, --device and --virtual"));
        return false;
    }
    if (parser.isSet(port)) {
        QString text = parser.value(port);
        if (text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            text = text.mid(3);
        bool ok = false;
        options.port = text.toInt(&ok);
        if (!ok || options.port < 1 || options.port > 255) {
            PrintError(
                QStringLiteral("--port takes COM1 to COM255, not \"%1\"").arg(parser.value(port)));
            return false;
        }
        options.target = Options::Target::Port;
    } else if (parser.isSet(device)) {
        options.device = parser.value(device);
        options.target = Options::Target::Device;
    }
    if (parser.isSet(speed)) {
        bool ok = false;
        options.speed = parser.value(speed).toInt(&ok);
        if (!ok || options.speed <= 0) {
            PrintError(QStringLiteral("--speed takes bits per second, not \"%1\"")
                           .arg(parser.value(speed)));
            return false;
        }
    }
    if (parser.isSet(repeat)) {
        bool ok = false;
        options.repeat = parser.value(repeat).toInt(&ok);
        if (!ok || options.repeat < 1) {
            PrintError(QStringLiteral("--repeat takes a count of 1 or more, not \"%1\"")
                           .arg(parser.value(repeat)));
            return false;
        }
    }
    if (parser.isSet(skipVirtual)) {
        if (options.target == Options::Target::Virtual) {
            PrintError(QStringLiteral("--skip-virtual-steps is for a real module: name --port or "
                                      "--device"));
            return false;
        }
        options.promptMs = kDefaultPromptMs;
    }
    if (parser.isSet(promptWait)) {
        if (!parser.isSet(skipVirtual)) {
            PrintError(QStringLiteral("--prompt-wait goes with --skip-virtual-steps, which is "
                                      "not given"));
            return false;
        }
        bool ok = false;
        options.promptMs = parser.value(promptWait).toInt(&ok);
        if (!ok || options.promptMs < 1 || options.promptMs > kMostStepMs) {
            PrintError(QStringLiteral("--prompt-wait takes milliseconds, 1 to %1, not \"%2\"")
                           .arg(kMostStepMs)
                           .arg(parser.value(promptWait)));
            return false;
        }
    }
    options.junit = parser.value(junit);
    options.failFast = parser.isSet(failFast);
    options.scripts = parser.positionalArguments();
    if (options.scripts.isEmpty()) {
        PrintError(QStringLiteral("no script named; see --help"));
        return false;
    }
    return true;
}

// The script that is the very file at `path`, by whatever name or link; empty for none.
QString ScriptAt(const QString& path, const QStringList& scripts)
{
    struct stat target = {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return {};
    for (const QString& script : scripts) {
        struct stat info = {};
        if (::stat(QFile::encodeName(script).constData(), &info) == 0 &&
            info.st_dev == target.st_dev && info.st_ino == target.st_ino)
            return script;
    }
    return {};
}

// Makes the JUnit path ready: refused when it names a script or something other than a regular
// file; otherwise whatever an earlier run left there is replaced at once by a report that says
// this run did not finish, so that no earlier result can pass for this run's, whatever ends it.
// When even that cannot be written, the run does not start.
bool PrepareJunit(const Options& options)
{
    const auto refuse = [&](const QString& why) {
        PrintError(
            QStringLiteral("cannot write the JUnit file \"%1\": %2").arg(options.junit, why));
        return false;
    };
    QString error;
    if (!IsReplaceableFile(options.junit, &error))
        return refuse(error);
    if (const QString script = ScriptAt(options.junit, options.scripts); !script.isEmpty())
        return refuse(QStringLiteral("it is the script \"%1\"").arg(script));
    if (ReplaceFileWhole(options.junit,
                         JunitErrorReport(QStringLiteral("orvexa-run"),
                                          {QStringLiteral("the run did not finish, so it wrote "
                                                          "no results")}),
                         &error))
        return true;
    return refuse(QFileInfo(options.junit).isFile()
                      ? error + QStringLiteral("; the file is left as it was, from an earlier run")
                      : error);
}

// Replaces the JUnit file with the errors that ended the run before any step.
void WriteJunitErrors(const Options& options, const QString& name, const QStringList& errors)
{
    QString error;
    if (!options.junit.isEmpty() &&
        !ReplaceFileWhole(options.junit, JunitErrorReport(name, errors), &error))
        PrintError(
            QStringLiteral("cannot write the JUnit file \"%1\": %2").arg(options.junit, error));
}

// The whole run: scripts in order, each as often as asked, on one open port. Each script run
// is printed step by step and goes to the JUnit file as it ends.
class CommandRun : public QObject
{
public:
    CommandRun(const Options& options, std::vector<Script> scripts, CMSComm& comm,
               VirtualModule* module)
        : m_options(options), m_scripts(std::move(scripts)), m_comm(comm),
          m_runner(comm, m_rng, module)
    {
        m_runner.ReadPort();
        m_runner.SetFailFast(options.failFast);
        m_runner.SetPromptForVirtualSteps(options.promptMs);
        if (!options.junit.isEmpty()) {
            m_runner.SetPicturesFolder(QFileInfo(options.junit).absolutePath());
            m_junit.emplace(options.junit);
            if (!m_junit->Open(&m_junitError))
                m_junit.reset();
        }
        connect(&m_runner, &ScriptRunner::StepFinished, this, &CommandRun::OnStep);
        connect(&m_runner, &ScriptRunner::StepsSkipped, this, &CommandRun::OnSkipped);
        connect(&m_runner, &ScriptRunner::Prompted, this, &CommandRun::OnPrompt);
        connect(&m_runner, &ScriptRunner::Finished, this, &CommandRun::OnFinished);
    }

    void Begin() { StartNext(); }

    // A signal: the running step and everything after it are skipped.
    void Interrupt(int signal)
    {
        if (m_signal != 0)
            return;
        m_signal = signal;
        m_end = RunEnd::Interrupted;
        m_endReason = QStringLiteral("not run: interrupted");
        m_runner.Stop(m_endReason);
        if (!m_runner.IsRunning())
            QMetaObject::invokeMethod(this, &CommandRun::StartNext, Qt::QueuedConnection);
    }

private:
    const Script& Current() const { return m_scripts[m_scriptIndex]; }

    QString SuiteName(const Script& script) const
    {
        return m_options.repeat > 1 ? QStringLiteral("%1 (run %2)").arg(script.path).arg(m_round)
                                    : script.path;
    }

    void StartNext()
    {
        if (m_suite || m_finished)
            return;
        if (m_end != RunEnd::Completed || m_failedFast) {
            Finish();
            return;
        }
        if (m_scriptIndex == m_scripts.size()) {
            m_scriptIndex = 0;
            ++m_round;
        }
        if (m_round > m_options.repeat) {
            Finish();
            return;
        }
        const Script& script = Current();
        if (m_scripts.size() > 1 || m_options.repeat > 1)
            Print(QStringLiteral("== %1").arg(SuiteName(script)));
        m_suite.emplace(script, SuiteName(script));
        m_started = std::chrono::steady_clock::now();
        m_runner.Start(script);
    }

    void OnPrompt(int index, int waitMs)
    {
        const Script& script = Current();
        const ScriptStep& step = script.steps[static_cast<std::size_t>(index)];
        Print(QStringLiteral("do   %1:%2  %3  (by hand on the module; going on in %4 ms)")
                  .arg(script.path)
                  .arg(step.line)
                  .arg(script.Source(step))
                  .arg(waitMs));
    }

    void OnStep(int index, const StepResult& result)
    {
        const Script& script = Current();
        const ScriptStep& step = script.steps[static_cast<std::size_t>(index)];
        m_suite->Add(index, result);
        Print(StepLine(script, step, result));
        if (result.state == StepResult::State::Failed && !result.reportsSeen.empty()) {
            Print(QStringLiteral("     last %1 reports seen:").arg(result.reportsSeen.size()));
            for (const QByteArray& report : result.reportsSeen)
                Print(QStringLiteral("       %1").arg(QString::fromUtf8(report)));
        } else if (result.state == StepResult::State::Failed) {
            Print(QStringLiteral("     no reports seen"));
        }
    }

    void OnSkipped(int first, int count, const QString& reason)
    {
        m_suite->AddSkipped(first, count, reason);
        StepResult skipped;
        skipped.state = StepResult::State::Skipped;
        skipped.reason = reason;
        const Script& script = Current();
        for (int i = first; i < first + count; ++i)
            Print(StepLine(script, script.steps[static_cast<std::size_t>(i)], skipped));
    }

    void OnFinished(ScriptRunner::Outcome outcome)
    {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        m_counts.Add(m_runner.Counts());
        AddSuite(m_suite->Finish(seconds));
        m_suite.reset();
        ++m_scriptIndex;
        if (outcome == ScriptRunner::Outcome::PortLost && m_end == RunEnd::Completed) {
            m_end = RunEnd::PortLost;
            m_endReason = QStringLiteral("not run: the port was lost");
        } else if (outcome == ScriptRunner::Outcome::Failed && m_options.failFast) {
            m_failedFast = true;
            m_endReason = QStringLiteral("not run: an earlier step failed (--fail-fast)");
        }
        // Queued: the runner is still inside its own signal.
        QMetaObject::invokeMethod(this, &CommandRun::StartNext, Qt::QueuedConnection);
    }

    void AddSuite(const QByteArray& suite)
    {
        if (m_junit && !m_junit->Add(suite, &m_junitError))
            m_junit.reset();
    }

    void Finish()
    {
        m_finished = true;
        // The scripts the run ended before, in its last round, are in the report as skipped;
        // later rounds are not listed.
        for (; m_round <= m_options.repeat && m_scriptIndex < m_scripts.size(); ++m_scriptIndex) {
            const Script& script = Current();
            JunitSuite suite(script, SuiteName(script));
            suite.AddSkipped(0, static_cast<int>(script.steps.size()), m_endReason);
            AddSuite(suite.Finish(0));
            m_counts.skipped += static_cast<qint64>(script.steps.size());
        }
        Print(FormatRunCounts(m_counts));
        m_comm.SetPortOpen(false);
        int exit = RunExitStatus(m_counts, m_end, m_signal);
        if (exit == kExitError && m_end == RunEnd::Completed && m_counts.NothingChecked())
            PrintError(QStringLiteral("nothing was checked: no expect, expect-none or screen "
                                      "step ran, so the run shows no pass"));
        if (m_junit && !m_junit->Commit(&m_junitError))
            m_junit.reset();
        if (!m_options.junit.isEmpty() && !m_junit) {
            PrintError(QStringLiteral("cannot write the JUnit file \"%1\": %2")
                           .arg(m_options.junit, m_junitError));
            exit = kExitError;
        }
        QCoreApplication::exit(exit);
    }

    const Options& m_options;
    std::vector<Script> m_scripts;
    CMSComm& m_comm;
    SeededRandom m_rng{
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    ScriptRunner m_runner;
    std::optional<JunitFile> m_junit;
    QString m_junitError;
    std::optional<JunitSuite> m_suite; // the script run under way
    std::size_t m_scriptIndex = 0;
    int m_round = 1;
    std::chrono::steady_clock::time_point m_started;
    RunCounts m_counts;
    RunEnd m_end = RunEnd::Completed;
    QString m_endReason;
    bool m_failedFast = false;
    bool m_finished = false;
    int m_signal = 0;
};

// Reads every script whole before the port is touched; false after printing every error.
bool LoadScripts(const Options& options, const int& signal, std::vector<Script>& scripts)
{
    const bool isVirtual = options.target == Options::Target::Virtual;
    QStringList errors;
    for (const QString& path : options.scripts) {
        ParseOutcome parsed = LoadScript(path);
        parsed.path = path;
        if (parsed.errors.empty() && isVirtual)
            parsed.errors =
                CheckReferencePictures(parsed, {ModuleEngine::kWidth, ModuleEngine::kHeight});
        if (parsed.errors.empty() && !isVirtual && options.promptMs == 0)
            if (std::optional<ScriptError> refused = FindVirtualOnlyStep(parsed))
                parsed.errors.push_back(*refused);
        for (const ScriptError& warning : parsed.warnings)
            std::fputs(
                qPrintable(FormatScriptError(path, {warning.line, QStringLiteral("warning: ") +
                                                                      warning.message}) +
                           u'\n'),
                stderr);
        for (const ScriptError& error : parsed.errors) {
            errors << FormatScriptError(path, error);
            std::fputs(qPrintable(errors.back() + u'\n'), stderr);
        }
        scripts.push_back(std::move(parsed));
        // A signal during a long read ends the run before the next script is read.
        QCoreApplication::processEvents();
        if (signal != 0)
            break;
    }
    if (errors.isEmpty())
        return true;
    WriteJunitErrors(options, QStringLiteral("orvexa-run"), errors);
    return false;
}

int Run(QGuiApplication& application)
{
    // Watched before anything else: a signal while the scripts are read still ends the run the
    // way it ends a running one, with the JUnit file written.
    SignalWatch watch({SIGINT, SIGTERM, SIGHUP});
    int pending = 0;
    const QMetaObject::Connection early =
        QObject::connect(&watch, &SignalWatch::Received, &application, [&pending](int signal) {
            if (pending == 0)
                pending = signal;
        });

    Options options;
    if (!ReadOptions(application, options))
        return kExitError;
    if (!options.junit.isEmpty() && !PrepareJunit(options))
        return kExitError;
    const bool isVirtual = options.target == Options::Target::Virtual;

    std::vector<Script> scripts;
    if (!LoadScripts(options, pending, scripts))
        return kExitError;

    std::unique_ptr<VirtualModule> module;
    CMSComm comm;
    try {
        if (isVirtual) {
            const QString storage = ModuleStorageFolder();
            if (!CreateSamplePictures(storage))
                PrintError(
                    QStringLiteral("cannot write the sample pictures to \"%1\"").arg(storage));
            module = std::make_unique<VirtualModule>(storage);
            const QString error = module->Open();
            if (!error.isEmpty()) {
                PrintError(error);
                WriteJunitErrors(options, QStringLiteral("orvexa-run"), {error});
                return kExitError;
            }
            comm.SetDevicePath(module->DevicePath());
        } else if (options.target == Options::Target::Device) {
            comm.SetDevicePath(options.device);
        } else {
            comm.SetCommPort(static_cast<short>(options.port));
        }
        comm.SetSettings(QStringLiteral("%1,n,8,1").arg(options.speed));
        comm.SetRThreshold(1);
        comm.SetInputMode(1);
        comm.SetPortOpen(true);
    } catch (const CommError& error) {
        const QString message = QString::fromStdString(error.what());
        PrintError(message);
        WriteJunitErrors(options, QStringLiteral("orvexa-run"), {message});
        return kExitError;
    }

    CommandRun run(options, std::move(scripts), comm, module.get());
    QObject::disconnect(early);
    QObject::connect(&watch, &SignalWatch::Received, &run, &CommandRun::Interrupt);
    if (pending != 0)
        run.Interrupt(pending);
    else
        QMetaObject::invokeMethod(&run, &CommandRun::Begin, Qt::QueuedConnection);
    return application.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    // The virtual module paints with QtGui; nothing here is shown, so no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvexaLCD TestBox"));
    try {
        return Run(application);
    } catch (const std::bad_alloc&) {
        // Said plainly, with the usual status, rather than as an abort; the JUnit file already
        // says the run did not finish.
        PrintError(QStringLiteral("out of memory"));
        return kExitError;
    }
}
