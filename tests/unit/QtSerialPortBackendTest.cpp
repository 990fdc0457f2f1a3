// The QSerialPort backend against a pseudo-terminal whose master side plays the
// far end of the line.
#include "serial/QtSerialPortBackend.h"

#include "serial/DeviceAccess.h"

#include "TempDir.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr auto kPatience = 3s;

LineSettings Iec7E1(std::int32_t rate = 300)
{
    LineSettings s;
    s.baudRate = rate;
    s.byteSize = 7;
    s.parity = Parity::Even;
    return s;
}

// Polls `done` until it holds or patience runs out; its last answer.
template <typename Done>
bool WaitFor(Done done)
{
    const auto deadline = Steady::now() + kPatience;
    while (!done()) {
        if (Steady::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Gathers what `readSome(buffer)` delivers (a count, 0 or less for none yet) until `count` bytes came.
template <typename ReadSome>
std::string Collect(std::size_t count, ReadSome readSome)
{
    std::string got;
    WaitFor([&] {
        char buf[256];
        const auto n = readSome(buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        return got.size() >= count;
    });
    return got;
}

class QtSerialPortBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master), 0);
        ASSERT_EQ(::unlockpt(m_master), 0);
        m_slave = ::ptsname(m_master);
        // Opened before the backend so TIOCEXCL cannot keep it out: lets the
        // test look at the driver's input queue and lock the device.
        m_slaveFd = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(m_slaveFd, 0);
    }
    void TearDown() override
    {
        m_port.Close();
        for (const int fd : {m_master, m_slaveFd})
            if (fd >= 0)
                ::close(fd);
    }

    void FarWrites(const std::string& bytes) { ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    std::string FarReads(std::size_t count)
    {
        return Collect(count, [&](char* buf) { return ::read(m_master, buf, 256); });
    }
    // Through the backend, in chunks of at most `chunk`.
    std::string PortReads(std::size_t count, std::size_t chunk = 100)
    {
        return Collect(count, [&](char* buf) {
            const std::size_t n = m_port.Read(reinterpret_cast<std::uint8_t*>(buf), chunk);
            EXPECT_LE(n, chunk);
            return n;
        });
    }
    int PendingInDriver() const
    {
        int n = -1;
        ::ioctl(m_slaveFd, FIONREAD, &n);
        return n;
    }
    // Processor time the whole process spent while the event loop ran for `span`.
    static std::chrono::duration<double> CpuOverEventLoop(std::chrono::milliseconds span)
    {
        const std::clock_t before = std::clock();
        QTimer::singleShot(span, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        return std::chrono::duration<double>(static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC);
    }

    int m_argc = 1;
    char m_arg0[8] = "test";
    char* m_argv[2] = {m_arg0, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
    int m_master = -1;
    int m_slaveFd = -1;
    std::string m_slave;
    QtSerialPortBackend m_port;
};

TEST_F(QtSerialPortBackendTest, CarriesBytesBothWaysAcrossARateSwitchOnALineThatStays8N1)
{
    ASSERT_TRUE(m_port.Open(m_slave, Iec7E1(), false)) << m_port.LastError();
    std::uint8_t buf[100];
    EXPECT_EQ(m_port.Read(buf, sizeof buf), 0u) << "nothing has arrived yet";

    const std::string signOn = "/?!\r\n";
    EXPECT_EQ(m_port.Write(reinterpret_cast<const std::uint8_t*>(signOn.data()), signOn.size()), signOn.size());
    EXPECT_EQ(FarReads(signOn.size()), signOn);

    std::string block; // more than one chunk: nothing lost between reads, order kept
    for (int i = 0; i < 250; ++i)
        block += static_cast<char>('0' + i % 64);
    FarWrites(block);
    EXPECT_EQ(PortReads(block.size()), block);

    EXPECT_TRUE(m_port.Apply(Iec7E1(9600)));
    FarWrites("ACK");
    EXPECT_EQ(PortReads(3), "ACK");
    EXPECT_EQ(m_port.TakeBreakSeen(), BreakSeen::Unsupported) << "a pseudo-terminal counts no breaks";
}

TEST_F(QtSerialPortBackendTest, WriteToAStalledLineReturnsWithWhatTheDriverTook)
{
    ASSERT_TRUE(m_port.Open(m_slave, Iec7E1(), false));
    const std::string flood(1 << 20, 'x'); // the far end reads nothing: the queue fills up
    const auto start = Steady::now();
    const std::size_t taken = m_port.Write(reinterpret_cast<const std::uint8_t*>(flood.data()), flood.size());
    EXPECT_LT(Steady::now() - start, kPatience);
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, flood.size());
}

TEST_F(QtSerialPortBackendTest, PurgeDiscardsWhatWaitsInTheBufferAndTheDriver)
{
    ASSERT_TRUE(m_port.Open(m_slave, Iec7E1(), false));
    FarWrites("xy");
    ASSERT_EQ(PortReads(1, 1), "x"); // "y" now waits in QSerialPort's buffer
    FarWrites("stale");
    ASSERT_TRUE(WaitFor([&] { return PendingInDriver() == 5; })) << PendingInDriver();

    EXPECT_TRUE(m_port.Purge());
    EXPECT_EQ(PendingInDriver(), 0);
    FarWrites("fresh");
    EXPECT_EQ(PortReads(5), "fresh");
}

TEST_F(QtSerialPortBackendTest, SecondOpenFailsWithAReasonUntilTheFirstCloses)
{
    ASSERT_TRUE(m_port.Open(m_slave, Iec7E1(), false));
    test::TempDir dir;
    const std::string link = dir.File("probe");
    std::filesystem::create_symlink(m_slave, link);
    for (const std::string& name : {m_slave, link}) {
        QtSerialPortBackend second;
        EXPECT_FALSE(second.Open(name, Iec7E1(), false)) << name;
        EXPECT_EQ(second.LastError(), "Device is in use by another program");
    }

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(QtSerialPortBackend().Open(m_slave, Iec7E1(), false) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "another process opened it too";

    m_port.Close();
    QtSerialPortBackend later;
    EXPECT_TRUE(later.Open(link, Iec7E1(), false)) << later.LastError();
    EXPECT_EQ(later.Device(), m_slave);
}

TEST_F(QtSerialPortBackendTest, DeviceLockedByAnotherProgramIsRefusedAndTheRefusedPortStaysInert)
{
    ASSERT_EQ(::flock(m_slaveFd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(m_port.Open(m_slave, Iec7E1(), false));
    EXPECT_EQ(m_port.LastError(), "Device is in use by another program");
    std::uint8_t b = 0;
    EXPECT_EQ(m_port.Read(&b, 1), 0u);
    EXPECT_EQ(m_port.Write(&b, 1), 0u);

    ASSERT_EQ(::flock(m_slaveFd, LOCK_UN), 0);
    EXPECT_TRUE(m_port.Open(m_slave, Iec7E1(), false)) << "the failed attempt left a lock behind: " << m_port.LastError();
}

// Whoever notices first: our own read, or (in line test mode, where the
// readout does not poll) Qt's notifier in the event loop.
class VanishedDeviceTest : public QtSerialPortBackendTest, public ::testing::WithParamInterface<bool> {};

TEST_P(VanishedDeviceTest, PortGoesSilentWithoutSpinning)
{
    ASSERT_TRUE(m_port.Open(m_slave, Iec7E1(), GetParam()));
    ::close(std::exchange(m_master, -1));
    if (GetParam()) {
        CpuOverEventLoop(100ms);
        EXPECT_FALSE(m_port.HoldsDevice());
    }
    std::uint8_t buf[100];
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(m_port.Read(buf, sizeof buf), 0u);
    EXPECT_FALSE(m_port.HoldsDevice());
    EXPECT_EQ(m_port.LastError().rfind("Device lost: ", 0), 0u) << m_port.LastError();
    EXPECT_EQ(m_port.Write(buf, 5), 0u);
    EXPECT_FALSE(m_port.Purge());
    EXPECT_LT(CpuOverEventLoop(1000ms).count(), 0.5) << "a spinning notifier burns about the whole second";
    m_port.Close();
    EXPECT_EQ(m_port.Read(buf, sizeof buf), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backend, VanishedDeviceTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NoticedByEventLoop" : "NoticedByRead"; });

// What a user who may not open the device is told: never to join root's group.
struct AdviceRow {
    const char* group;
    const char* advice;
};
class PermissionAdviceTest : public ::testing::TestWithParam<AdviceRow> {};

TEST_P(PermissionAdviceTest, NamesTheGroupAndTheCommand)
{
    EXPECT_EQ(PermissionAdvice("/dev/ttyUSB0", GetParam().group), GetParam().advice);
}

INSTANTIATE_TEST_SUITE_P(DeviceAccess, PermissionAdviceTest, ::testing::Values(
    AdviceRow{"dialout", "Permission denied: /dev/ttyUSB0 belongs to the group dialout; add this user to it with\n"
                         "  sudo usermod -aG dialout $USER\nthen log out and in again"},
    AdviceRow{"root", "Permission denied: this user may not read and write /dev/ttyUSB0; ask the administrator for access to it"},
    AdviceRow{"", "Permission denied: this user may not read and write /dev/ttyUSB0; ask the administrator for access to it"}));

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
    EXPECT_EQ(DeviceGroup(device), expected->gr_name);
    EXPECT_EQ(DeviceGroup(dir.File("absent")), "");
}

} // namespace
} // namespace varnel
