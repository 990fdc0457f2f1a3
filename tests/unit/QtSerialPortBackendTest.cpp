// The QSerialPort backend against a pseudo-terminal whose master side plays the far end of the line.
#include "serial/QtSerialPortBackend.h"

#include "serial/DeviceAccess.h"
#include "serial/DeviceLock.h"

#include "TempDir.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace varnel {
namespace {

using namespace std::chrono_literals;
const LineSettings k7E1{300, 7, Parity::Even};

double CpuSecondsOverEventLoop(std::chrono::milliseconds span)
{
    const std::clock_t before = std::clock();
    QTimer::singleShot(span, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    return static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
}

struct PtyTest : ::testing::Test {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test", *argv[] = {name, nullptr};
        static const QCoreApplication app(argc, argv);
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        slave = ::ptsname(master);
        // Ours before the backend's TIOCEXCL: to see the driver's input queue and to lock the device.
        slaveFd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slaveFd, 0);
    }
    void TearDown() override
    {
        port.Close(); // before the pseudo-terminal closes
        ::close(master);
        ::close(slaveFd);
    }
    auto Send(const std::string& b)
    {
        return port.Write(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    }
    // What the backend (chunk 0: the far end) receives, `chunk` a read, until `count` came.
    std::string Received(std::size_t count, std::size_t chunk = 100)
    {
        std::string got;
        std::uint8_t b[256];
        for (int ms = 0; ms < 3000 && got.size() < count; ++ms, ::usleep(1000)) {
            const long n = chunk ? long(port.Read(b, chunk)) : ::read(master, b, sizeof b);
            got.append(reinterpret_cast<const char*>(b), std::size_t(std::max(n, 0L)));
        }
        return got;
    }
    // The far end sends `b`; once it is in the driver, the event loop turns: what it left there.
    int LeftInDriver(const std::string& b)
    {
        int n = int(::write(master, b.data(), b.size()));
        for (int ms = 0; ms < 3000 && ::ioctl(slaveFd, FIONREAD, &n) == 0 && n < int(b.size()); ++ms)
            ::usleep(1000);
        QCoreApplication::processEvents();
        return ::ioctl(slaveFd, FIONREAD, &n) == 0 ? n : -1;
    }

    int master = -1, slaveFd = -1;
    std::string slave;
    QtSerialPortBackend port;
};

// The readout polls, so bytes wait in the driver; the line test's Qt notifier notices a lost device.
TEST_F(PtyTest, CarriesBytesBothWays)
{
    ASSERT_TRUE(port.Open(slave, k7E1, false)) << port.LastError();
    EXPECT_EQ(Send("/") + Send("?") + Send("!"), 3u) << "one byte per call, as the paced transmit writes";
    EXPECT_EQ(Received(3, 0), "/?!");
    EXPECT_EQ(LeftInDriver("xy"), 2) << "the open left the read notifier on";
    ASSERT_EQ(Received(1, 1), "x"); // "y" now waits in QSerialPort's buffer
    ASSERT_EQ(LeftInDriver("stale"), 5) << "the read left the read notifier on";
    EXPECT_TRUE(port.Purge());

    EXPECT_TRUE(port.SetBreak(true) && port.SetBreak(false) && port.Apply({9600, 7, Parity::Even}));
    LeftInDriver("ACK");
    EXPECT_EQ(Received(3), "ACK") << "the purge left bytes in the buffer or the driver";
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::Unsupported);

    ASSERT_TRUE(port.Open(slave, k7E1, true)) << "line test mode";
    EXPECT_EQ(LeftInDriver("x"), 0) << "no notifier took the byte";
    EXPECT_EQ(Received(1), "x");
    const auto start = std::chrono::steady_clock::now();
    const std::size_t taken = Send(std::string(1 << 20, 'x')); // the far end reads no more: the queue fills
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(taken > 0 && taken < (1u << 20)) << taken;
}

// One holder per device, by any name; an ended program's lock file goes, a running one's names it.
TEST_F(PtyTest, OneOpenAtATime)
{
    ASSERT_EQ(::flock(slaveFd, LOCK_EX | LOCK_NB), 0); // another program holds the device
    EXPECT_FALSE(port.Open(slave, k7E1, false));
    const std::string self = "Device is in use by PID " + std::to_string(::getpid()) + " (QtSerialPortBac)";
    EXPECT_EQ(port.LastError(), self);
    ASSERT_EQ(::flock(slaveFd, LOCK_UN), 0);
    ASSERT_TRUE(port.Open(slave, k7E1, false)) << port.LastError();

    test::TempDir dir;
    const std::string link = dir.File("probe");
    ASSERT_EQ(::symlink(slave.c_str(), link.c_str()), 0);
    QtSerialPortBackend second;
    EXPECT_FALSE(second.Open(link, k7E1, false));
    EXPECT_EQ(second.LastError(), self);
    port.Close();

    const std::string path = LockFilePath(slave);
    std::ofstream(path) << "99999999\nvarnel-read\nfar\n"; // no such process, beyond any pid_max
    EXPECT_TRUE(port.Open(link, k7E1, false)) << port.LastError();
    EXPECT_EQ(port.Device(), slave);
    port.Close();
    std::ofstream(path) << "         1\n"; // minicom's form, which QSerialPort ignores; pid 1 runs
    std::string init;
    std::getline(std::ifstream("/proc/1/comm"), init);
    EXPECT_FALSE(port.Open(slave, k7E1, false));
    EXPECT_EQ(port.LastError(), "Device is in use by PID 1 (" + init + ")");
    std::remove(path.c_str());
}

// Whoever notices first lets go; no later call hides why.
struct VanishedDevice : PtyTest, ::testing::WithParamInterface<std::string> {};

TEST_P(VanishedDevice, IsLetGoAtOnceAndThePortGoesSilentWithoutSpinning)
{
    ASSERT_TRUE(port.Open(slave, k7E1, GetParam() == "EventLoop"));
    ::close(std::exchange(master, -1));
    std::uint8_t buf[100];
    if (GetParam() == "EventLoop")
        CpuSecondsOverEventLoop(100ms);
    EXPECT_TRUE(GetParam() == "Read" ? port.Read(buf, sizeof buf) == 0
                                     : GetParam() != "Break" || !port.SetBreak(true));
    EXPECT_FALSE(port.HoldsDevice());
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No) << "a failed query, not a port unable to report";
    EXPECT_EQ(port.LastError().rfind("Device lost: ", 0), 0u) << port.LastError();
    EXPECT_LT(CpuSecondsOverEventLoop(1000ms), 0.5) << "a spinning notifier burns about the whole second";
}

INSTANTIATE_TEST_SUITE_P(NoticedBy, VanishedDevice, ::testing::Values("Read", "Break", "EventLoop"),
                         [](const auto& info) { return info.param; });

// Only a count that moved is a break; the first query after an open (previous -1) takes it as the baseline.
static_assert(BreakSeenBetween(-1, 9) == BreakSeen::No && BreakSeenBetween(9, 9) == BreakSeen::No
              && BreakSeenBetween(0, 1) == BreakSeen::Yes);

// Told the device's group (from its entry, which needs no permission) and the command; never to join root's.
TEST_F(PtyTest, PermissionAdviceNamesTheDevicesGroupAndTheCommand)
{
    EXPECT_EQ(PermissionAdvice("/dev/ttyS0", "root"), "Permission denied: this user may not read and write "
                                                      "/dev/ttyS0; ask the administrator for access to it");
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr || ::fchown(slaveFd, static_cast<uid_t>(-1), dialout->gr_gid) != 0)
        GTEST_SKIP() << "no group dialout to give a device to";
    EXPECT_EQ(AccessDeniedReason(slave),
              "Permission denied: " + slave
                  + " belongs to the group dialout; add this "
                    "user to it with\n  sudo usermod -aG dialout $USER\nthen log out and in again");
}

} // namespace
} // namespace varnel
