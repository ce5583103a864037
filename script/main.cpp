#include "module/ModuleEngine.h"
#include "module/SamplePictures.h"
#include "results/ResultsFile.h"
#include "script/BatchRun.h"
#include "script/JunitReport.h"
#include "script/PortTarget.h"
#include "script/ReferenceList.h"
#include "script/ResultsCollector.h"
#include "script/RunConsole.h"
#include "script/RunCounts.h"
#include "script/ScreenCompare.h"
#include "script/VirtualModule.h"
#include "scriptformat/Script.h"
#include "serial/CMSComm.h"
#include "support/FileReplace.h"
#include "support/SignalWatch.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>

#include <chrono>
#include <csignal>
#include <cstdint>
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

struct Options
{
    std::vector<PortTarget> ports; // none: the virtual module
    int speed = 115200;
    QString junit;
    int repeat = 1;
    bool failFast = false;
    int promptMs = 0;      // virtual-only steps are left to a person for this long; 0: refused
    int answerDelayMs = 0; // the virtual module's, as slower firmware
    ReferenceUpdate referenceUpdate = ReferenceUpdate::None;
    QStringList scripts;
    QString baseline;
    ResultsOutputs outputs; // the baseline is set once it is read
};

// A number given to an option, in [least, most]; false after saying why.
bool ReadNumber(const QCommandLineParser& parser, const QCommandLineOption& option, double least,
                double most, double& value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const QString text = parser.value(option).trimmed();
    value = QString(text).remove(u'%').toDouble(&ok);
    if (ok && value >= least && value <= most)
        return true;
    PrintError(QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                   .arg(option.names().constFirst())
                   .arg(least)
                   .arg(most)
                   .arg(text));
    return false;
}

// Parses the command line; false (after saying why) for a usage error.
bool ReadOptions(QCoreApplication& application, Options& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs test scripts (.ots) against an OrvexaLCD module or the virtual module."));
    parser.addHelpOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("The console's port COM<n> (or n), a device path, or socket://HOST:PORT or "
                       "rfc2217://HOST:PORT. Given more than once, the scripts run on every "
                       "port at once."),
        QStringLiteral("PORT"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A serial device by its path, as --port."),
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
    const QCommandLineOption results(QStringLiteral("results"),
                                     QStringLiteral("Write the run's results (JSON) to FILE."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write the run's HTML report to FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption baseline(
        QStringLiteral("baseline"),
        QStringLiteral("Compare with an earlier results FILE and print what changed."),
        QStringLiteral("FILE"));
    const QCommandLineOption slowerBy(
        QStringLiteral("slower-by"),
        QStringLiteral("A step is slower only past this share of its p50 (default 20%)."),
        QStringLiteral("PERCENT"));
    const QCommandLineOption slowerMs(
        QStringLiteral("slower-ms"),
        QStringLiteral("A step is slower only past this many ms of its p50 (default 2)."),
        QStringLiteral("MS"));
    const QCommandLineOption failOnSlower(
        QStringLiteral("fail-on-slower"),
        QStringLiteral("A step slower than in the baseline fails the run."));
    const QCommandLineOption answerDelay(
        QStringLiteral("answer-delay"),
        QStringLiteral("The virtual module waits MS before each statement and each report."),
        QStringLiteral("MS"));
    const QCommandLineOption updateReferences(
        QStringLiteral("update-references"),
        QStringLiteral("Write the actual screen as the reference of the screen steps whose "
                       "reference is missing, that failed, or all; those steps still fail."),
        QStringLiteral("missing|failed|all"));
    parser.addOptions({port, device, virtualModule, speed, junit, repeat, failFast, skipVirtual,
                       promptWait, answerDelay, updateReferences, results, report, baseline,
                       slowerBy, slowerMs, failOnSlower});
    parser.addPositionalArgument(QStringLiteral("SCRIPT"), QStringLiteral("Scripts to run."),
                                 QStringLiteral("SCRIPT..."));
    if (!parser.parse(application.arguments())) {
        PrintError(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);

    if (parser.isSet(virtualModule) && (parser.isSet(port) || parser.isSet(device))) {
        PrintError(QStringLiteral("--virtual goes alone: the virtual module takes no --port or "
                                  "--device beside it"));
        return false;
    }
    QStringList labels;
    for (const QString& text : parser.values(port)) {
        QString error;
        const std::optional<PortTarget> target = ParsePortTarget(text, &error);
        if (!target) {
            PrintError(QStringLiteral("--port: ") + error);
            return false;
        }
        options.ports.push_back(*target);
    }
    for (const QString& path : parser.values(device))
        options.ports.push_back({0, path});
    for (const PortTarget& target : options.ports) {
        // Two runners on one port would take each other's reports.
        if (labels.contains(target.Label())) {
            PrintError(QStringLiteral("%1 is named twice").arg(target.Label()));
            return false;
        }
        labels << target.Label();
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
        if (options.ports.empty()) {
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
    options.outputs.results = parser.value(results);
    options.outputs.report = parser.value(report);
    options.baseline = parser.value(baseline);
    options.outputs.failOnSlower = parser.isSet(failOnSlower);
    if ((parser.isSet(slowerBy) || parser.isSet(slowerMs) || parser.isSet(failOnSlower)) &&
        options.baseline.isEmpty()) {
        PrintError(QStringLiteral("--slower-by, --slower-ms and --fail-on-slower go with "
                                  "--baseline, which is not given"));
        return false;
    }
    BaselineOptions& compare = options.outputs.compare;
    if (!ReadNumber(parser, slowerBy, 0, 1e6, compare.slowerByPercent) ||
        !ReadNumber(parser, slowerMs, 0, kMostStepMs, compare.slowerByMs))
        return false;
    if (parser.isSet(answerDelay)) {
        bool ok = false;
        options.answerDelayMs = parser.value(answerDelay).toInt(&ok);
        if (!options.ports.empty()) {
            PrintError(QStringLiteral("--answer-delay is for the virtual module"));
            return false;
        }
        if (!ok || options.answerDelayMs < 0 ||
            options.answerDelayMs > ModuleEngine::kMostAnswerDelayMs) {
            PrintError(QStringLiteral("--answer-delay takes milliseconds, 0 to %1, not \"%2\"")
                           .arg(ModuleEngine::kMostAnswerDelayMs)
                           .arg(parser.value(answerDelay)));
            return false;
        }
    }
    if (parser.isSet(updateReferences)) {
        const std::optional<ReferenceUpdate> update =
            ReferenceUpdateFrom(parser.value(updateReferences));
        if (!update) {
            PrintError(QStringLiteral("--update-references takes missing, failed or all, not "
                                      "\"%1\"")
                           .arg(parser.value(updateReferences)));
            return false;
        }
        if (!options.ports.empty()) {
            PrintError(QStringLiteral("--update-references is for the virtual module, whose "
                                      "screen is compared"));
            return false;
        }
        options.referenceUpdate = *update;
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

void PrintJunitError(const Options& options, const QString& error)
{
    PrintError(QStringLiteral("cannot write the JUnit file \"%1\": %2").arg(options.junit, error));
}

// Makes the JUnit path ready before anything else; when it is refused or cannot be written, the
// run does not start.
bool PrepareJunit(const Options& options)
{
    QString error;
    if (PrepareJunitFile(options.junit, options.scripts, &error))
        return true;
    PrintJunitError(options, error);
    return false;
}

// Replaces the JUnit file with the errors that ended the run before any step.
void WriteJunitErrors(const Options& options, const QString& name, const QStringList& errors)
{
    QString error;
    if (!options.junit.isEmpty() &&
        !ReplaceFileWhole(options.junit, JunitErrorReport(name, errors), &error))
        PrintJunitError(options, error);
}

// Reads every script whole before the port is touched; false after printing every error.
bool LoadScripts(const Options& options, const int& signal, std::vector<Script>& scripts)
{
    const bool isVirtual = options.ports.empty();
    QStringList errors;
    for (const QString& path : options.scripts) {
        ParseOutcome parsed = LoadScript(path);
        parsed.path = path;
        if (parsed.errors.empty() && isVirtual)
            parsed.errors =
                CheckReferencePictures(parsed, {ModuleEngine::kWidth, ModuleEngine::kHeight},
                                       WritesMissing(options.referenceUpdate));
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

QString LineText(const Options& options)
{
    return QStringLiteral("%1,n,8,1").arg(options.speed);
}

RunSettings Settings(const Options& options)
{
    RunSettings settings;
    settings.rounds = options.repeat;
    settings.failFast = options.failFast;
    settings.promptMs = options.promptMs;
    settings.referenceUpdate = options.referenceUpdate;
    // A failed screen step's pictures go beside the results.
    for (const QString& beside : {options.junit, options.outputs.results, options.outputs.report})
        if (!beside.isEmpty()) {
            settings.picturesFolder = QFileInfo(beside).absolutePath();
            break;
        }
    return settings;
}

// Opens the virtual module and the port to it; false after saying why.
bool OpenVirtual(const Options& options, CMSComm& comm, std::unique_ptr<VirtualModule>& module)
{
    const QString storage = ModuleStorageFolder();
    if (!CreateSamplePictures(storage))
        PrintError(QStringLiteral("cannot write the sample pictures to \"%1\"").arg(storage));
    module = std::make_unique<VirtualModule>(storage);
    module->SetAnswerDelay(options.answerDelayMs);
    QString error = module->Open();
    if (error.isEmpty())
        error = OpenPortTarget(comm, {0, module->DevicePath()}, LineText(options));
    if (error.isEmpty())
        return true;
    PrintError(error);
    WriteJunitErrors(options, QStringLiteral("orvexa-run"), {error});
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

    // Files the run would end up unable to write, and a baseline it cannot read, are found
    // before anything is sent.
    QStringList written;
    if (!options.junit.isEmpty())
        written << QFileInfo(options.junit).absoluteFilePath();
    for (const QString& path : {options.outputs.results, options.outputs.report}) {
        if (path.isEmpty())
            continue;
        QString fault = OutputFileFault(path, options.scripts);
        if (fault.isEmpty() && (!ScriptAt(path, written).isEmpty() ||
                                written.contains(QFileInfo(path).absoluteFilePath())))
            fault = QStringLiteral("another of the run's files goes there");
        if (!fault.isEmpty()) {
            PrintError(QStringLiteral("cannot write \"%1\": %2").arg(path, fault));
            return kExitError;
        }
        written << QFileInfo(path).absoluteFilePath();
    }
    RunResults baseline;
    if (!options.baseline.isEmpty()) {
        QString error;
        if (!LoadResults(options.baseline, baseline, error)) {
            PrintError(QStringLiteral("cannot read the baseline: %1").arg(error));
            return kExitError;
        }
        options.outputs.baseline = &baseline;
    }

    std::vector<Script> scripts;
    if (!LoadScripts(options, pending, scripts))
        return kExitError;

    std::unique_ptr<VirtualModule> module;
    std::vector<std::unique_ptr<CMSComm>> comms;
    QStringList openErrors; // by port, empty for one that opened
    if (options.ports.empty()) {
        comms.push_back(std::make_unique<CMSComm>());
        if (!OpenVirtual(options, *comms.back(), module))
            return kExitError;
        openErrors << QString();
    }
    for (const PortTarget& target : options.ports) {
        comms.push_back(std::make_unique<CMSComm>());
        // A serial server that leaves a request unanswered is worth a line: the run goes on.
        QObject::connect(comms.back().get(), &CMSComm::Notice, &application, PrintError);
        openErrors << OpenPortTarget(*comms.back(), target, LineText(options));
        if (!openErrors.back().isEmpty())
            PrintError(openErrors.back());
    }
    // A single port that did not open ends the run before it begins, as it always has; of
    // several, it fails its own suites and the others run.
    if (options.ports.size() == 1 && !openErrors[0].isEmpty()) {
        WriteJunitErrors(options, QStringLiteral("orvexa-run"), {openErrors[0]});
        return kExitError;
    }

    RunConsole console(Print, PrintError);
    // The whole model only where a file or the baseline needs it.
    ResultsSink results(Print, !options.outputs.results.isEmpty() ||
                                   !options.outputs.report.isEmpty() ||
                                   !options.baseline.isEmpty());
    std::optional<JunitSink> junit;
    if (!options.junit.isEmpty())
        junit.emplace(options.junit);
    BatchRun run(std::move(scripts), Settings(options));
    const auto seed =
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (std::size_t i = 0; i < comms.size(); ++i) {
        PortRun& port = run.AddPort(module ? QStringLiteral("virtual") : options.ports[i].Label(),
                                    *comms[i], module.get(), seed + static_cast<std::uint32_t>(i));
        if (!openErrors[qsizetype(i)].isEmpty())
            port.OpenFailed(openErrors[qsizetype(i)]);
    }
    // The latency table comes before the closing counts.
    run.AddSink(results);
    run.AddSink(console);
    if (junit)
        run.AddSink(*junit);
    ReferenceList references(Print);
    if (options.referenceUpdate != ReferenceUpdate::None)
        run.AddSink(references);
    QObject::connect(&run, &BatchRun::Finished, &application, [&](int exit) {
        QString error;
        if (junit && !junit->Commit(&error)) {
            PrintJunitError(options, error);
            exit = kExitError;
        }
        QCoreApplication::exit(
            FinishResults(results.Results(), options.outputs, exit, Print, PrintError));
    });

    QObject::disconnect(early);
    QObject::connect(&watch, &SignalWatch::Received, &run, &BatchRun::Interrupt);
    if (pending != 0)
        run.Interrupt(pending);
    else
        QMetaObject::invokeMethod(&run, &BatchRun::Begin, Qt::QueuedConnection);
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
