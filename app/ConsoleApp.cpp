#include "app/ConsoleApp.h"

#include "app/ConsoleDlg.h"
#include "support/RandomSource.h"
#include "support/SignalWatch.h"

#include <chrono>
#include <csignal>

bool CConsoleApp::InitInstance(const std::function<void(CConsoleDlg&)>& ready)
{
    // Watched before the console is made: a signal while it starts is held until it runs.
    const SignalWatch endSignals({SIGINT, SIGTERM, SIGHUP});
    // Seeded once for the whole run: reseeding per send would repeat the same draws for every
    // statement sent within one clock tick.
    SeededRandom rng(
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    CConsoleDlg console(rng);
    // Modal to its (absent) owner only: run application-modal, it would block the ownerless
    // Unicode generators it opens, and they could take no input.
    console.setWindowModality(Qt::WindowModal);
    QObject::connect(&endSignals, &SignalWatch::Received, &console, &CConsoleDlg::CloseForSignal);
    if (ready)
        ready(console);
    console.exec();
    return false;
}
