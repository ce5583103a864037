#include "module/ModuleEngine.h"
#include "module/ModuleLine.h"
#include "module/ModuleWindow.h"
#include "module/SamplePictures.h"
#include "support/SignalWatch.h"

#include <QApplication>
#include <QCommandLineParser>

#include <csignal>
#include <cstdio>

namespace {

QtMessageHandler g_qtHandler = nullptr;

// Qt's offscreen platform, which headless runs and the tests use, cannot pass a window's size
// limits on and warns each time the window's layout sets them: nothing a user could act on.
void DropSizeHintNotice(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg &&
        message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (g_qtHandler)
        g_qtHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[])
{
    g_qtHandler = qInstallMessageHandler(DropSizeHintNotice);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrvexaLCD Module"));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("A virtual OrvexaLCD module on a pseudo-terminal, published as a COM port "
                       "of the console."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Publish as COM<n> (default: lowest free)."),
                                  QStringLiteral("n"));
    const QCommandLineOption unpaced(QStringLiteral("no-pacing"),
                                     QStringLiteral("Take bytes as fast as they come."));
    const QCommandLineOption text(QStringLiteral("text-events"),
                                  QStringLiteral("Send event reports in text form."));
    const QCommandLineOption snapshot(QStringLiteral("snapshot"),
                                      QStringLiteral("Write the screen to FILE.png on exit."),
                                      QStringLiteral("FILE.png"));
    const QCommandLineOption answerDelay(
        QStringLiteral("answer-delay"),
        QStringLiteral("Wait MS before each statement runs and each report is sent."),
        QStringLiteral("MS"));
    const QCommandLineOption help = options.addHelpOption();
    options.addOptions({port, unpaced, text, snapshot, answerDelay});
    // Usage errors exit 2, apart from what the program could not do (1): scripts tell a wrong
    // call from a port that is taken.
    if (!options.parse(QApplication::arguments())) {
        std::fprintf(stderr, "orvexa-module: %s\n", qPrintable(options.errorText()));
        return 2;
    }
    if (options.isSet(help))
        options.showHelp(0);

    bool portIsNumber = true;
    const int portNumber = options.isSet(port) ? options.value(port).toInt(&portIsNumber) : 0;
    if (!portIsNumber || (options.isSet(port) && (portNumber < 1 || portNumber > 255))) {
        std::fprintf(stderr, "orvexa-module: --port takes a number 1..255\n");
        return 2;
    }

    bool delayIsNumber = true;
    const int delayMs =
        options.isSet(answerDelay) ? options.value(answerDelay).toInt(&delayIsNumber) : 0;
    if (!delayIsNumber || delayMs < 0 || delayMs > ModuleEngine::kMostAnswerDelayMs) {
        std::fprintf(stderr, "orvexa-module: --answer-delay takes milliseconds, 0 to %d\n",
                     ModuleEngine::kMostAnswerDelayMs);
        return 2;
    }

    const QString storage = ModuleStorageFolder();
    if (!CreateSamplePictures(storage))
        std::fprintf(stderr, "orvexa-module: cannot write the sample pictures to \"%s\"\n",
                     qPrintable(storage));

    ModuleLine line;
    const QString error = line.Open(portNumber);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "orvexa-module: %s\n", qPrintable(error));
        return 1;
    }
    line.SetPaced(!options.isSet(unpaced));
    // SIGINT and SIGTERM end the event loop normally, so the port link is removed on the way out.
    const SignalWatch endSignals({SIGINT, SIGTERM});
    QObject::connect(&endSignals, &SignalWatch::Received, &application, &QApplication::quit);

    ModuleEngine engine(storage);
    engine.SetForm(options.isSet(text) ? ReportForm::Text : ReportForm::Binary);
    engine.SetAnswerDelay(delayMs);
    QObject::connect(&line, &ModuleLine::Received, &engine, &ModuleEngine::Feed);
    QObject::connect(&line, &ModuleLine::LineIdle, &engine, &ModuleEngine::LineIdle);
    QObject::connect(&engine, &ModuleEngine::ReportReady, &line, &ModuleLine::Write);

    const QString portName = QStringLiteral("COM%1").arg(line.Port());
    ModuleWindow window(engine, portName);
    window.show();
    // Scripts (tools/console) wait for this line to learn the port.
    std::printf("%s %s\n", qPrintable(portName), qPrintable(line.DevicePath()));
    std::fflush(stdout);

    const int result = application.exec();
    if (options.isSet(snapshot) && !engine.Screen().save(options.value(snapshot), "PNG")) {
        std::fprintf(stderr, "orvexa-module: cannot write \"%s\"\n",
                     qPrintable(options.value(snapshot)));
        return 1;
    }
    return result;
}
