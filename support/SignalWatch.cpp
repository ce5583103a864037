#include "support/SignalWatch.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::atomic<int> g_writeEnd{-1};

void OnSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(g_writeEnd.load(), &byte, 1);
    errno = saved;
}

} // namespace

SignalWatch::SignalWatch(std::initializer_list<int> watched, QObject* parent) : QObject(parent)
{
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0)
        return;
    m_read.reset(pair[0]);
    m_write.reset(pair[1]);
    g_writeEnd.store(m_write.get());
    m_notifier = std::make_unique<QSocketNotifier>(m_read.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatch::OnReadable);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : watched) {
        if (::sigaction(signal, &action, nullptr) == 0)
            m_watched.push_back(signal);
    }
}

SignalWatch::~SignalWatch()
{
    // Nobody is left to act on these signals: they end the program again, as by default.
    int expected = m_write.get();
    if (!g_writeEnd.compare_exchange_strong(expected, -1))
        return; // another watcher has taken over
    for (int signal : m_watched)
        std::signal(signal, SIG_DFL);
}

void SignalWatch::OnReadable()
{
    unsigned char bytes[16];
    const auto got = ::read(m_read.get(), bytes, sizeof bytes);
    for (ssize_t i = 0; i < got; ++i)
        emit Received(bytes[i]);
}
