#include "StopSignals.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace varnel::cli {

#ifndef _WIN32

namespace {

// A signal handler reaches only what is global; this is the pipe's writing end, or -1.
volatile std::sig_atomic_t g_signalPipe = -1;
constexpr int kSignals[] = {SIGINT, SIGTERM};

extern "C" void OnStopSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // Non-blocking: with the pipe full, one more signal of the same kind is no news.
    [[maybe_unused]] const auto written = ::write(g_signalPipe, &byte, 1);
    errno = saved;
}

void SetHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_pipe[0] = m_pipe[1] = -1;
        return;
    }
    g_signalPipe = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char byte = 0;
        while (::read(m_pipe[0], &byte, 1) == 1)
            m_onSignal(byte);
    });
    SetHandler(OnStopSignal);
}

StopSignals::~StopSignals()
{
    if (m_pipe[1] < 0)
        return;
    SetHandler(SIG_DFL);
    g_signalPipe = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

#else

StopSignals::StopSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {}
StopSignals::~StopSignals() = default;

#endif

} // namespace varnel::cli
