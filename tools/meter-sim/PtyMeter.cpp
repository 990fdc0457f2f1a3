#include "PtyMeter.h"

#include "PosixIo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <filesystem>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
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
// How long an opener's descriptor may take to show in /proc after its open is told.
constexpr milliseconds kOpenShows{20};

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

// The settings a reader finds: raw at 300 Bd, so that nothing is echoed or
// translated before a reader configures its end; 300 Bd is where a reader
// starts anyway. Made from the settings of a new pseudo-terminal, since
// cfmakeraw leaves flags such as CLOCAL and IGNPAR as they were.
termios FreshSettings(int slave)
{
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B300);
    cfsetospeed(&t, B300);
    return t;
}

// Nothing of an earlier reader left: its settings, its exclusive flag, its bytes.
void MakeFresh(int slave, const termios& settings)
{
    tcsetattr(slave, TCSANOW, &settings);
    ioctl(slave, TIOCNXCL);
    tcflush(slave, TCIOFLUSH);
}

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
    m_fresh = FreshSettings(m_slave);
    MakeFresh(m_slave, m_fresh);
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 || inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) < 0) {
        error = Errno("inotify");
        return false;
    }
    m_unheld = false;
    m_holders.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device = name;
    return true;
}

void PtyMeter::CloseDevice()
{
    for (int* fd : {&m_watch, &m_slave, &m_master}) {
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

std::set<std::string> PtyMeter::Holders() const
{
    // Processes with a descriptor on the device, the meter's own one not
    // counted (a reader may share the meter's process, as in the tests).
    namespace fs = std::filesystem;
    std::set<std::string> holders;
    const std::string self = std::to_string(getpid());
    const std::string ownFd = std::to_string(m_slave);
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if ((pid != self || fd.path().filename() != ownFd)
                && fs::read_symlink(fd.path(), linkError).string() == m_device) {
                holders.insert(pid);
                break;
            }
        }
    }
    return holders;
}

void PtyMeter::OnOpensAndCloses(std::string& pending)
{
    bool opened = false;
    std::array<char, 4096> events{};
    for (ssize_t n; (n = read(m_watch, events.data(), events.size())) > 0;) {
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, events.data() + at, sizeof event);
            opened = opened || (event.mask & IN_OPEN) != 0;
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    // An open is told a moment before the opener's descriptor shows.
    std::set<std::string> holders = Holders();
    for (auto waited = milliseconds{0}; opened && holders.empty() && waited < kOpenShows;
         waited += milliseconds{1}) {
        std::this_thread::sleep_for(milliseconds{1});
        holders = Holders();
    }
    // A line no reader holds is made fresh, and what the meter still sends goes
    // nowhere. Once a reader comes after those served so far (they may be gone
    // only now), a readout still under way was theirs and none of it may reach it.
    const bool gone = !m_holders.empty()
                      && std::none_of(m_holders.begin(), m_holders.end(),
                                      [&](const std::string& pid) { return holders.count(pid) != 0; });
    if (holders.empty()) {
        MakeFresh(m_slave, m_fresh); // and Run drops what is pending while no one holds the line
    } else if (gone || m_unheld) {
        m_meter->Abort("abandoned");
        pending.clear();
    }
    m_unheld = holders.empty();
    m_holders = std::move(holders);
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
        pollfd fds[3] = {{m_master, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                         {m_wake[0], POLLIN, 0},
                         {m_watch, POLLIN, 0}};
        const int ready = poll(fds, 3, static_cast<int>(wait.count()));
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
        // After what a reader sent before it closed (a break reply, say).
        if (fds[2].revents & POLLIN)
            OnOpensAndCloses(pending);
        if (m_unheld)
            pending.clear();

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
