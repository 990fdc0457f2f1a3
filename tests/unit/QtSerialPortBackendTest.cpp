// The QSerialPort backend against a pseudo-terminal whose master side plays the
// far end of the line.
#include "serial/QtSerialPortBackend.h"

#include "serial/DeviceAccess.h"

#include "TempDir.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnel {
namespace {

using namespace std::chrono_literals;

const LineSettings k7E1 = [] {
    LineSettings s;
    s.baudRate = 300;
    s.byteSize = 7;
    s.parity = Parity::Even;
    return s;
}();

// Polls `done` for up to 3 s; its last answer.
template <typename Done>
bool WaitFor(Done done)
{
    for (const auto deadline = std::chrono::steady_clock::now() + 3s; !done(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    return true;
}

// What `readSome(buffer)` delivers (a count, 0 or less for none yet) until `count` bytes came.
template <typename ReadSome>
std::string Collect(std::size_t count, ReadSome readSome)
{
    std::string got;
    char buf[256];
    WaitFor([&] { return got.append(buf, static_cast<std::size_t>(std::max<long>(0, readSome(buf)))).size() >= count; });
    return got;
}

// Processor time the whole process spent while the event loop ran for `span`.
double CpuSecondsOverEventLoop(std::chrono::milliseconds span)
{
    const std::clock_t before = std::clock();
    QTimer::singleShot(span, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    return static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
}

struct Fd {
    int fd = -1;
    ~Fd() { if (fd >= 0) ::close(fd); }
};

struct PtyTest : ::testing::Test {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test", *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(master.fd >= 0 && ::grantpt(master.fd) == 0 && ::unlockpt(master.fd) == 0);
        slave = ::ptsname(master.fd);
        // Opened before the backend so TIOCEXCL cannot keep it out: lets the
        // test look at the driver's input queue and lock the device.
        slaveFd.fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slaveFd.fd, 0);
    }
    void FarWrites(const std::string& b) { ASSERT_EQ(::write(master.fd, b.data(), b.size()), ssize_t(b.size())); }
    std::string FarReads(std::size_t n) { return Collect(n, [&](char* b) { return ::read(master.fd, b, 256); }); }
    // Through the backend, in chunks of at most `chunk`.
    std::string PortReads(std::size_t n, std::size_t chunk = 100)
    {
        return Collect(n, [&](char* b) { return long(port.Read(reinterpret_cast<std::uint8_t*>(b), chunk)); });
    }

    Fd master, slaveFd;
    std::string slave;
    QtSerialPortBackend port; // let go before the pseudo-terminal closes
};

TEST_F(PtyTest, CarriesBytesBothWaysAcrossARateSwitchWithoutModemLines)
{
    ASSERT_TRUE(port.Open(slave, k7E1, false)) << port.LastError();
    std::uint8_t buf[100];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u) << "nothing has arrived yet";
    for (const char c : std::string("/?!\r\n")) // one byte per call, as the paced transmit writes
        EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>(&c), 1), 1u);
    EXPECT_EQ(FarReads(5), "/?!\r\n");
    std::string block; // more than a chunk, read 7 at a time: nothing lost between reads, order kept
    for (int i = 0; i < 250; ++i)
        block += static_cast<char>('0' + i % 64);
    FarWrites(block);
    EXPECT_EQ(PortReads(block.size(), 7), block);

    // RTS and DTR are refused with a reason, a break is taken; the line goes on either way.
    EXPECT_FALSE(port.SetRts(false) || port.SetDtr(false));
    EXPECT_FALSE(port.LastError().empty());
    EXPECT_TRUE(port.SetBreak(true) && port.SetBreak(false));
    LineSettings fast = k7E1;
    fast.baudRate = 9600;
    EXPECT_TRUE(port.Apply(fast));
    FarWrites("ACK");
    EXPECT_EQ(PortReads(3), "ACK");
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::Unsupported) << "a pseudo-terminal counts no breaks";
    ASSERT_TRUE(port.Open(slave, k7E1, true)) << "line test mode";
    FarWrites("x");
    EXPECT_EQ(PortReads(1), "x");
}

TEST_F(PtyTest, WriteToAStalledLineReturnsWithWhatTheDriverTook)
{
    ASSERT_TRUE(port.Open(slave, k7E1, false));
    const std::string flood(1 << 20, 'x'); // the far end reads nothing: the queue fills up
    const auto start = std::chrono::steady_clock::now();
    const std::size_t taken = port.Write(reinterpret_cast<const std::uint8_t*>(flood.data()), flood.size());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(taken > 0 && taken < flood.size()) << taken;
}

TEST_F(PtyTest, PurgeDiscardsWhatWaitsInTheBufferAndTheDriver)
{
    ASSERT_TRUE(port.Open(slave, k7E1, false));
    FarWrites("xy");
    ASSERT_EQ(PortReads(1, 1), "x"); // "y" now waits in QSerialPort's buffer
    FarWrites("stale");
    int pending = -1;
    ASSERT_TRUE(WaitFor([&] { return ::ioctl(slaveFd.fd, FIONREAD, &pending) == 0 && pending == 5; })) << pending;
    EXPECT_TRUE(port.Purge());
    EXPECT_TRUE(::ioctl(slaveFd.fd, FIONREAD, &pending) == 0 && pending == 0) << pending;
    FarWrites("fresh");
    EXPECT_EQ(PortReads(5), "fresh");
}

TEST_F(PtyTest, SecondOpenFailsWithAReasonUntilTheFirstCloses)
{
    ASSERT_TRUE(port.Open(slave, k7E1, false));
    test::TempDir dir;
    const std::string link = dir.File("probe");
    std::filesystem::create_symlink(slave, link);
    for (const std::string& name : {slave, link}) {
        QtSerialPortBackend second;
        EXPECT_FALSE(second.Open(name, k7E1, false)) << name;
        EXPECT_EQ(second.LastError(), "Device is in use by another program");
    }
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(QtSerialPortBackend().Open(slave, k7E1, false) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "another process opened it too";

    port.Close();
    QtSerialPortBackend later;
    EXPECT_TRUE(later.Open(link, k7E1, false)) << later.LastError();
    EXPECT_EQ(later.Device(), slave);
}

TEST_F(PtyTest, DeviceLockedByAnotherProgramIsRefusedAndTheRefusedPortStaysInert)
{
    ASSERT_EQ(::flock(slaveFd.fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(port.Open(slave, k7E1, false));
    EXPECT_EQ(port.LastError(), "Device is in use by another program");
    std::uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1) + port.Write(&b, 1), 0u);
    ASSERT_EQ(::flock(slaveFd.fd, LOCK_UN), 0);
    EXPECT_TRUE(port.Open(slave, k7E1, false)) << "the failed attempt left a lock behind: " << port.LastError();
}

// Whoever notices first (a read, a break, or Qt's notifier in line test mode,
// where the readout does not poll) lets the device go; no later call replaces the reason.
struct VanishedDevice : PtyTest, ::testing::WithParamInterface<const char*> {};

TEST_P(VanishedDevice, IsLetGoAtOnceAndThePortGoesSilentWithoutSpinning)
{
    const std::string noticer = GetParam();
    ASSERT_TRUE(port.Open(slave, k7E1, noticer == "EventLoop"));
    ::close(std::exchange(master.fd, -1));
    std::uint8_t buf[100];
    if (noticer == "EventLoop")
        CpuSecondsOverEventLoop(100ms);
    EXPECT_TRUE(noticer == "Read" ? port.Read(buf, sizeof buf) == 0 : noticer != "Break" || !port.SetBreak(true));
    EXPECT_FALSE(port.HoldsDevice());
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(port.Read(buf, sizeof buf) + port.Write(buf, 5), 0u);
    EXPECT_FALSE(port.Purge() || port.SetBreak(false) || port.SetRts(true) || port.SetDtr(true));
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No) << "a failed query, not a port unable to report";
    EXPECT_EQ(port.LastError().rfind("Device lost: ", 0), 0u) << port.LastError();
    EXPECT_LT(CpuSecondsOverEventLoop(1000ms), 0.5) << "a spinning notifier burns about the whole second";
    port.Close();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
}

INSTANTIATE_TEST_SUITE_P(NoticedBy, VanishedDevice, ::testing::Values("Read", "Break", "EventLoop"),
                         [](const auto& info) { return std::string(info.param); });

// The driver counts breaks since it was loaded; the first query after an open
// (previous -1) only takes the baseline.
TEST(BreakSeenBetween, OnlyACountThatMovedIsABreak)
{
    const struct { std::int64_t previous, current; BreakSeen seen; } rows[] = {
        {-1, 0, BreakSeen::No}, {-1, 9, BreakSeen::No}, {0, 0, BreakSeen::No}, {9, 9, BreakSeen::No},
        {0, 1, BreakSeen::Yes}, {9, 12, BreakSeen::Yes}, {9, 0, BreakSeen::Yes}};
    for (const auto& r : rows)
        EXPECT_EQ(BreakSeenBetween(r.previous, r.current), r.seen) << r.previous << " -> " << r.current;
}

// A user who may not open the device is told its group and the command, never to join root's.
TEST(DeviceAccess, AdviceNamesTheGroupAndTheCommand)
{
    const std::string ask = "Permission denied: this user may not read and write /dev/ttyUSB0; ask the "
                            "administrator for access to it";
    EXPECT_EQ(PermissionAdvice("/dev/ttyUSB0", "dialout"), "Permission denied: /dev/ttyUSB0 belongs to the group "
              "dialout; add this user to it with\n  sudo usermod -aG dialout $USER\nthen log out and in again");
    EXPECT_EQ(PermissionAdvice("/dev/ttyUSB0", "root") + PermissionAdvice("/dev/ttyUSB0", ""), ask + ask);
}

// The group is read from the device's own entry, which needs no permission on the device.
TEST(DeviceAccess, GroupOfADeviceNobodyMayOpen)
{
    test::TempDir dir;
    const std::string device = dir.File("ttyUSB0");
    ASSERT_GE(::close(::open(device.c_str(), O_CREAT | O_WRONLY, 0)), 0);
    const group* dialout = ::getgrnam("dialout");
    const bool chowned = dialout != nullptr && ::chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0;
    const group* expected = chowned ? dialout : ::getgrgid(getegid());
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(DeviceGroup(device) + "|" + DeviceGroup(dir.File("absent")), std::string(expected->gr_name) + "|");
}

} // namespace
} // namespace varnel
