#include "app/serial/CMSComm.h"
#include "module/SamplePictures.h"
#include "script/JunitReport.h"
#include "script/ScreenCompare.h"
#include "script/Script.h"
#include "script/ScriptRunner.h"
#include "script/VirtualModule.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QSocketNotifier>

#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kExitPassed = 0, kExitFailed = 1, kExitError = 2;
constexpr int kDefaultPromptMs = 5000;

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

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
    switch (result.state) {
    case StepResult::State::Passed:
        if (result.latencyMs >= 0)
            return QStringLiteral("ok   %1  %2  %3 ms")
                .arg(where, step.source)
                .arg(result.latencyMs, 0, 'f', 1);
        return QStringLiteral("ok   %1  %2").arg(where, step.source);
    case StepResult::State::Failed:
        return QStringLiteral("FAIL %1  %2: %3").arg(where, step.source, result.reason);
    default:
        return QStringLiteral("skip %1  %2: %3").arg(where, step.source, result.reason);
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
        bool ok = false;
        options.promptMs = parser.value(promptWait).toInt(&ok);
        if (!parser.isSet(skipVirtual) || !ok || options.promptMs < 1 ||
            options.promptMs > kMostStepMs) {
            PrintError(QStringLiteral("--prompt-wait takes milliseconds, 1 to %1, with "
                                      "--skip-virtual-steps; not \"%2\"")
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

// The whole run: scripts in order, each as often as asked, on one open port.
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
        if (!options.junit.isEmpty())
            m_runner.SetPicturesFolder(QFileInfo(options.junit).absolutePath());
        connect(&m_runner, &ScriptRunner::StepFinished, this, &CommandRun::OnStep);
        connect(&m_runner, &ScriptRunner::Prompted, this, &CommandRun::OnPrompt);
        connect(&m_runner, &ScriptRunner::Finished, this, &CommandRun::OnFinished);
        for (int round = 1; round <= options.repeat; ++round)
            for (const Script& script : m_scripts) {
                SuiteRun run;
                run.name = options.repeat > 1
                               ? QStringLiteral("%1 (run %2)").arg(script.path).arg(round)
                               : script.path;
                run.script = &script;
                run.results.assign(script.steps.size(), StepResult{});
                for (StepResult& result : run.results) {
                    result.state = StepResult::State::Skipped;
                    result.reason = QStringLiteral("not run");
                }
                m_runs.push_back(std::move(run));
            }
    }

    void Begin() { StartNext(); }

    // A signal: the running step and everything after it are skipped.
    void Interrupt(int signal)
    {
        m_exit = 128 + signal;
        m_stopping = true;
        m_runner.Stop(QStringLiteral("not run: interrupted"));
        if (m_current >= m_runs.size())
            Finish();
    }

    int Exit() const { return m_exit; }

private:
    void StartNext()
    {
        if (m_current >= m_runs.size() || m_stopping) {
            Finish();
            return;
        }
        SuiteRun& run = m_runs[m_current];
        if (m_options.scripts.size() > 1 || m_options.repeat > 1)
            Print(QStringLiteral("== %1").arg(run.name));
        m_started = std::chrono::steady_clock::now();
        m_runner.Start(*run.script);
    }

    void OnPrompt(int index, int waitMs)
    {
        const SuiteRun& run = m_runs[m_current];
        const ScriptStep& step = run.script->steps[static_cast<std::size_t>(index)];
        Print(QStringLiteral("do   %1:%2  %3  (by hand on the module; going on in %4 ms)")
                  .arg(run.script->path)
                  .arg(step.line)
                  .arg(step.source)
                  .arg(waitMs));
    }

    void OnStep(int index, const StepResult& result)
    {
        SuiteRun& run = m_runs[m_current];
        const ScriptStep& step = run.script->steps[static_cast<std::size_t>(index)];
        run.results[static_cast<std::size_t>(index)] = result;
        Print(StepLine(*run.script, step, result));
        if (result.state == StepResult::State::Failed && !result.reportsSeen.empty()) {
            Print(QStringLiteral("     last %1 reports seen:").arg(result.reportsSeen.size()));
            for (const QByteArray& report : result.reportsSeen)
                Print(QStringLiteral("       %1").arg(QString::fromUtf8(report)));
        } else if (result.state == StepResult::State::Failed) {
            Print(QStringLiteral("     no reports seen"));
        }
    }

    void OnFinished(ScriptRunner::Outcome outcome)
    {
        SuiteRun& run = m_runs[m_current];
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        ++m_current;
        if (outcome == ScriptRunner::Outcome::PortLost) {
            if (m_exit == kExitPassed || m_exit == kExitFailed)
                m_exit = kExitError;
            m_stopping = true;
        } else if (outcome == ScriptRunner::Outcome::Failed) {
            if (m_exit == kExitPassed)
                m_exit = kExitFailed;
            if (m_options.failFast)
                m_stopping = true;
        }
        // Queued: the runner is still inside its own signal.
        QMetaObject::invokeMethod(this, &CommandRun::StartNext, Qt::QueuedConnection);
    }

    void Finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        int passed = 0, failed = 0;
        for (const SuiteRun& run : m_runs)
            for (std::size_t i = 0; i < run.results.size(); ++i) {
                if (!run.script->steps[i].IsTest())
                    continue;
                passed += run.results[i].state == StepResult::State::Passed;
                failed += run.results[i].state == StepResult::State::Failed;
            }
        Print(QStringLiteral("%1 passed, %2 failed").arg(passed).arg(failed));
        m_comm.SetPortOpen(false);
        if (!m_options.junit.isEmpty()) {
            QSaveFile file(m_options.junit);
            if (!file.open(QIODevice::WriteOnly) || file.write(JunitXml(m_runs)) < 0 ||
                !file.commit()) {
                PrintError(QStringLiteral("cannot write \"%1\": %2")
                               .arg(m_options.junit, file.errorString()));
                m_exit = kExitError;
            }
        }
        QCoreApplication::exit(m_exit);
    }

    const Options& m_options;
    std::vector<Script> m_scripts;
    CMSComm& m_comm;
    SeededRandom m_rng{
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    ScriptRunner m_runner;
    std::vector<SuiteRun> m_runs;
    std::size_t m_current = 0;
    std::chrono::steady_clock::time_point m_started;
    bool m_stopping = false;
    bool m_finished = false;
    int m_exit = kExitPassed;
};

} // namespace

int main(int argc, char* argv[])
{
    // The virtual module paints with QtGui; nothing here is shown, so no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvexaLCD TestBox"));

    Options options;
    if (!ReadOptions(application, options))
        return kExitError;
    const bool isVirtual = options.target == Options::Target::Virtual;

    // Every script is checked whole before the port is touched.
    std::vector<Script> scripts;
    bool bad = false;
    for (const QString& path : options.scripts) {
        ParseOutcome parsed = LoadScript(path);
        if (parsed.errors.empty() && isVirtual)
            parsed.errors = CheckReferencePictures(path, parsed.steps);
        if (parsed.errors.empty() && !isVirtual && options.promptMs == 0)
            if (std::optional<ScriptError> refused = FindVirtualOnlyStep(parsed.steps))
                parsed.errors.push_back(*refused);
        for (const ScriptError& error : parsed.errors)
            std::fputs(qPrintable(FormatScriptError(path, error) + u'\n'), stderr);
        bad = bad || !parsed.errors.empty();
        scripts.push_back(Script{path, std::move(parsed.steps)});
    }
    if (bad)
        return kExitError;

    if (!options.junit.isEmpty()) {
        // Said now rather than after a long run whose results would then be lost.
        QSaveFile probe(options.junit);
        if (QFileInfo(options.junit).isDir() || !probe.open(QIODevice::WriteOnly)) {
            PrintError(QStringLiteral("cannot write the JUnit file \"%1\": %2")
                           .arg(options.junit, QFileInfo(options.junit).isDir()
                                                   ? QStringLiteral("is a folder")
                                                   : probe.errorString()));
            return kExitError;
        }
        probe.cancelWriting();
    }

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
        PrintError(QString::fromStdString(error.what()));
        return kExitError;
    }

    CommandRun run(options, std::move(scripts), comm, module.get());
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
        QObject::connect(notifier, &QSocketNotifier::activated, &run, [&run] {
            char signal = 0;
            if (::read(g_signalPipe[0], &signal, 1) == 1)
                run.Interrupt(signal);
        });
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }
    QMetaObject::invokeMethod(&run, &CommandRun::Begin, Qt::QueuedConnection);
    return application.exec();
}
