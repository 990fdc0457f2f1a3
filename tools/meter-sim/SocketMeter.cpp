#include "SocketMeter.h"

#include "PosixIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace varnel::sim {

namespace {

using posix::Errno;
using posix::Now;
using posix::SetFlags;
using std::chrono::milliseconds;

// NextDue sets each sleep; this only bounds it.
constexpr milliseconds kMaxPollWait{100};

} // namespace

SocketMeter::SocketMeter(std::unique_ptr<MeterSide> meter, std::string socketPath)
    : m_meter(std::move(meter)),
      m_path(std::move(socketPath))
{
}

SocketMeter::SocketMeter(std::unique_ptr<MeterSide> meter, TcpListen listen)
    : m_meter(std::move(meter)),
      m_path("127.0.0.1:" + std::to_string(listen.port)),
      m_tcpPort(listen.port),
      m_tcp(true)
{
}

SocketMeter::~SocketMeter()
{
    Stop();
}

bool SocketMeter::Connect(std::string& error)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_path.empty() || m_path.size() >= sizeof addr.sun_path) {
        error = m_path + ": not a usable socket path (at most " + std::to_string(sizeof addr.sun_path - 1)
                + " bytes)";
        return false;
    }
    std::memcpy(addr.sun_path, m_path.c_str(), m_path.size() + 1);
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0
        || !SetFlags(m_fd)) {
        error = Errno(m_path);
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return false;
    }
    // A new connection starts a new telnet session.
    m_decoder = TelnetDecoder{};
    return true;
}

bool SocketMeter::Listen(std::string& error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(m_tcpPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    const int on = 1;
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0 || setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || bind(m_listen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0
        || listen(m_listen, 1) != 0 || !SetFlags(m_listen)
        || getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error = Errno(m_path);
        return false;
    }
    m_tcpPort = ntohs(addr.sin_port);
    return true;
}

void SocketMeter::DropReader()
{
    close(m_fd);
    m_fd = -1;
    m_meter->Abort("hangup");
}

bool SocketMeter::Start(std::string& error)
{
    if (m_thread.joinable()) {
        error = "already started";
        return false;
    }
    if (pipe(m_wake) != 0 || !SetFlags(m_wake[0]) || !SetFlags(m_wake[1])) {
        error = Errno("pipe");
        Stop();
        return false;
    }
    if (!(m_tcp ? Listen(error) : Connect(error))) {
        Stop();
        return false;
    }
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SocketMeter::Wake()
{
    const char wake = 1;
    while (write(m_wake[1], &wake, 1) < 0 && errno == EINTR) {}
}

void SocketMeter::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        Wake();
        m_thread.join();
        m_meter->Abort("stopped");
        DeliverReports();
    }
    for (int* fd : {&m_fd, &m_listen, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void SocketMeter::SendBreak()
{
    m_breakWanted = true;
    if (m_wake[1] >= 0)
        Wake();
}

void SocketMeter::Run()
{
    std::string pending;
    std::string data;
    std::array<std::uint8_t, 256> buf{};
    std::string closed;
    // A TCP reader that leaves ends its readout only; the meter waits for the next.
    const auto lost = [&](std::string reason) {
        if (m_tcp)
            DropReader();
        else
            closed = std::move(reason);
        pending.clear();
    };
    while (!m_stop && closed.empty()) {
        milliseconds wait = kMaxPollWait;
        if (const auto due = m_meter->NextDue())
            wait = std::clamp(std::chrono::ceil<milliseconds>(*due - Now()), milliseconds{0}, kMaxPollWait);
        pollfd fds[3] = {{m_fd, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                         {m_wake[0], POLLIN, 0},
                         {m_fd < 0 ? m_listen : -1, POLLIN, 0}};
        if (poll(fds, 3, static_cast<int>(wait.count())) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            while (read(m_wake[0], buf.data(), buf.size()) > 0) {}
        if (m_stop)
            break;
        if (fds[2].revents & POLLIN) {
            m_fd = accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            const int on = 1;
            if (m_fd >= 0)
                setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }

        const SimTime now = Now();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            for (;;) {
                const ssize_t n = read(m_fd, buf.data(), buf.size());
                if (n > 0) {
                    data.clear();
                    if (m_tcp)
                        data.assign(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n));
                    else
                        m_decoder.Decode(buf.data(), static_cast<std::size_t>(n), data);
                    m_meter->Receive(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), now, 0);
                    continue;
                }
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    lost(n == 0 ? "the far end closed the line" : Errno(m_path));
                break;
            }
        }
        const std::string out = m_meter->TakeOutput(now, 0);
        if (m_fd >= 0)
            pending += m_tcp ? out : TelnetEncode(out);
        if (m_breakWanted.exchange(false) && !m_tcp)
            pending.append(kTelnetBreak, sizeof kTelnetBreak);

        if (m_meter->TakeHangup()) {
            // A dropped connection is what a probe pulled out looks like to the
            // far end; the meter then plugs it in again.
            pending.clear();
            if (m_fd >= 0)
                close(m_fd);
            m_fd = -1;
            if (!m_tcp && !Connect(closed))
                break;
        }
        while (!pending.empty() && closed.empty() && m_fd >= 0) {
            const ssize_t n = send(m_fd, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (n > 0)
                pending.erase(0, static_cast<std::size_t>(n));
            else if (n < 0 && errno == EINTR)
                continue;
            else if (n < 0 && errno != EAGAIN)
                lost(Errno(m_path));
            else
                break; // full: the rest waits for POLLOUT
        }
        DeliverReports();
    }
    if (!closed.empty()) {
        m_meter->Abort("hangup");
        DeliverReports();
        if (onClosed)
            onClosed(closed);
    }
}

void SocketMeter::DeliverReports()
{
    for (const auto& report : m_meter->TakeReports())
        if (onReport)
            onReport(report);
}

} // namespace varnel::sim
