#include "StopSignals.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace varnel {

#ifndef _WIN32
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT};

// A handler can reach nothing but a global; only one StopSignals sets it.
int g_signalPipe = -1;

extern "C" void WriteSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe, &byte, 1);
    errno = saved;
}

} // namespace
#endif

StopSignals::StopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop))
{
#ifndef _WIN32
    if (g_signalPipe >= 0 || ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_signalPipe = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::OnSignal);
    struct sigaction action {};
    action.sa_handler = WriteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);
    m_installed = true;
#endif
}

StopSignals::~StopSignals()
{
    Restore();
#ifndef _WIN32
    delete m_notifier;
    for (const int fd : m_pipe)
        if (fd >= 0)
            ::close(fd);
    if (g_signalPipe == m_pipe[1])
        g_signalPipe = -1;
#endif
}

void StopSignals::OnSignal()
{
#ifndef _WIN32
    unsigned char bytes[16];
    while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {}
#endif
    if (!m_installed)
        return;
    Restore();
    m_onStop();
}

void StopSignals::Restore()
{
#ifndef _WIN32
    if (!m_installed)
        return;
    m_installed = false;
    for (const int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
#endif
}

} // namespace varnel
