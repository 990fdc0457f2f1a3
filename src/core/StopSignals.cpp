#include "core/StopSignals.h"

#include <QSocketNotifier>

#include <utility>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace varnel {

#ifndef _WIN32

namespace {

// A signal handler reaches only what is global: the pipe's writing end, or -1.
volatile std::sig_atomic_t g_signalPipe = -1;

extern "C" void WriteSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Non-blocking: with the pipe full, one more signal of the same kind is no news.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe, &byte, 1);
    errno = saved;
}

void SetHandler(StopOn which, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
    if (which == StopOn::AlsoHangUp)
        ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(StopOn which, LaterStops later, std::function<void(int)> onSignal)
    : m_signals(which),
      m_later(later),
      m_onSignal(std::move(onSignal))
{
    if (g_signalPipe >= 0 || ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_pipe[0] = m_pipe[1] = -1;
        return;
    }
    g_signalPipe = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char byte = 0;
        while (::read(m_pipe[0], &byte, 1) == 1 && m_installed) {
            if (m_later == LaterStops::DefaultAction)
                Restore();
            m_onSignal(byte);
        }
    });
    SetHandler(m_signals, WriteSignal);
    m_installed = true;
}

StopSignals::~StopSignals()
{
    if (m_pipe[1] < 0)
        return;
    Restore();
    g_signalPipe = -1;
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void StopSignals::Restore()
{
    if (std::exchange(m_installed, false))
        SetHandler(m_signals, SIG_DFL);
}

#else

StopSignals::StopSignals(StopOn which, LaterStops later, std::function<void(int)> onSignal)
    : m_signals(which),
      m_later(later),
      m_onSignal(std::move(onSignal))
{
}
StopSignals::~StopSignals() = default;
void StopSignals::Restore() {}

#endif

} // namespace varnel
