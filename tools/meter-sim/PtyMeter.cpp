#include "PtyMeter.h"

#include "PosixIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace varnel::sim {

namespace {

using std::chrono::milliseconds;

// Longest sleep of the loop, so that a rate change is noticed soon.
constexpr milliseconds kMaxPollWait{100};
// After an unexpected hang-up condition on the master, before polling again.
constexpr milliseconds kHangupBackoff{10};

using posix::Errno;
using posix::Now;
using posix::SetFlags;

struct SpeedEntry {
    speed_t code;
    int baud;
};
constexpr std::array<SpeedEntry, 16> kSpeeds{{
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B150, 150},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
}};

} // namespace

PtyMeter::PtyMeter(MeterConfig config, std::string linkPath)
    : PtyMeter(std::make_unique<MeterProtocol>(std::move(config)), std::move(linkPath))
{
}

PtyMeter::PtyMeter(std::unique_ptr<MeterSide> meter, std::string linkPath)
    : m_meter(std::move(meter)),
      m_linkPath(std::move(linkPath))
{
}

PtyMeter::~PtyMeter()
{
    Stop();
}

int PtyMeter::LineBaud(int masterFd)
{
    // On Linux the master's termios calls reach the slave's settings.
    termios t{};
    if (tcgetattr(masterFd, &t) != 0)
        return 0;
    const speed_t code = cfgetospeed(&t);
    for (const auto& entry : kSpeeds)
        if (entry.code == code)
            return entry.baud;
    return 0;
}

PtyMeter::StartResult PtyMeter::Start(std::string& error)
{
    if (m_thread.joinable()) {
        error = "already started";
        return StartResult::DeviceFailed;
    }
    StartResult result = StartResult::Ok;
    if (pipe(m_wake) != 0 || !SetFlags(m_wake[0]) || !SetFlags(m_wake[1])) {
        error = Errno("pipe");
        result = StartResult::DeviceFailed;
    } else if (!OpenDevice(error)) {
        result = StartResult::DeviceFailed;
    } else if (!UpdateLink(error)) {
        result = StartResult::LinkFailed;
    }
    if (result != StartResult::Ok) {
        std::string keep = m_linkPath;
        m_linkPath.clear(); // not ours to remove
        Stop();
        m_linkPath = std::move(keep);
        return result;
    }
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
    return result;
}

void PtyMeter::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const char wake = 1;
        while (write(m_wake[1], &wake, 1) < 0 && errno == EINTR) {}
        m_thread.join();
        m_meter->Abort("stopped");
        DeliverReports();
    }
    CloseDevice();
    for (int& fd : m_wake) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (!m_linkPath.empty()) {
        struct stat st {};
        if (lstat(m_linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(m_linkPath.c_str());
    }
}

std::string PtyMeter::DevicePath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device;
}

std::vector<ReadoutReport> PtyMeter::Reports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

bool PtyMeter::WaitForReports(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_reports.size() >= count; });
}

bool PtyMeter::OpenDevice(std::string& error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (!SetFlags(m_master) || grantpt(m_master) != 0 || unlockpt(m_master) != 0
        || ptsname_r(m_master, name, sizeof name) != 0) {
        error = Errno("pseudo-terminal");
        return false;
    }
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        error = Errno(name);
        return false;
    }
    // Raw from the start, so that nothing is echoed or translated before a
    // reader configures its end. 300 Bd is where a reader starts anyway.
    termios t{};
    if (tcgetattr(m_slave, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B300);
        cfsetospeed(&t, B300);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device = name;
    return true;
}

void PtyMeter::CloseDevice()
{
    for (int* fd : {&m_slave, &m_master}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

bool PtyMeter::UpdateLink(std::string& error)
{
    if (m_linkPath.empty())
        return true;
    struct stat st {};
    if (lstat(m_linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = m_linkPath + ": exists and is not a symbolic link";
        return false;
    }
    // A new link beside the old one and a rename: readers never see the link missing.
    const std::string temp = m_linkPath + ".new";
    unlink(temp.c_str());
    if (symlink(DevicePath().c_str(), temp.c_str()) != 0) {
        error = Errno(temp);
        return false;
    }
    if (rename(temp.c_str(), m_linkPath.c_str()) != 0) {
        error = Errno(m_linkPath);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

void PtyMeter::WritePending(std::string& pending)
{
    std::size_t written = 0;
    while (written < pending.size()) {
        const ssize_t n = write(m_master, pending.data() + written, pending.size() - written);
        if (n > 0)
            written += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // full: the rest waits for POLLOUT
    }
    pending.erase(0, written);
}

void PtyMeter::Run()
{
    std::string pending;
    std::array<std::uint8_t, 256> buf{};
    while (!m_stop) {
        milliseconds wait = kMaxPollWait;
        if (const auto due = m_meter->NextDue()) {
            const auto ahead = std::chrono::ceil<milliseconds>(*due - Now());
            wait = std::clamp(ahead, milliseconds{0}, kMaxPollWait);
        }
        pollfd fds[2] = {{m_master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                         {m_wake[0], POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (m_stop)
            break;

        const SimTime now = Now();
        const int lineBaud = LineBaud(m_master);
        if (fds[0].revents & POLLIN) {
            for (;;) {
                const ssize_t n = read(m_master, buf.data(), buf.size());
                if (n <= 0)
                    break;
                m_meter->Receive(buf.data(), static_cast<std::size_t>(n), now, lineBaud);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            std::this_thread::sleep_for(kHangupBackoff);
        }
        pending += m_meter->TakeOutput(now, lineBaud);

        if (m_meter->TakeHangup()) {
            pending.clear();
            CloseDevice();
            std::string error;
            if (!OpenDevice(error) || !UpdateLink(error)) {
                std::fprintf(stderr, "varnel-meter-sim: %s\n", error.c_str());
                break;
            }
            if (onNewDevice)
                onNewDevice(DevicePath());
        } else if (!pending.empty()) {
            WritePending(pending);
        }

        DeliverReports();
    }
}

void PtyMeter::DeliverReports()
{
    for (auto& report : m_meter->TakeReports()) {
        if (onReport)
            onReport(report);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.push_back(std::move(report));
        m_changed.notify_all();
    }
}

} // namespace varnel::sim
