// The simulated meter on a real pseudo-terminal: the reader's rate is seen
// through the master, a hang-up leaves a fresh device behind the link.
#include "MeterData.h"
#include "PtyMeter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace varnel::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The reader's end, as a serial program would set it up.
class ReaderEnd {
public:
    explicit ReaderEnd(const std::string& device)
        : m_fd(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~ReaderEnd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    void SetRate(speed_t speed)
    {
        termios t{};
        ASSERT_EQ(tcgetattr(m_fd, &t), 0);
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        ASSERT_EQ(tcsetattr(m_fd, TCSANOW, &t), 0);
    }
    void Write(const std::string& bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    // Reads until `done` holds or the line ends (hang-up) or the time runs out.
    std::string ReadUntil(const std::function<bool(const std::string&)>& done, std::chrono::seconds limit = 20s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done(m_in) && std::chrono::steady_clock::now() < end) {
            char buf[256];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0)
                m_in.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hungUp = true;
                break;
            } else
                std::this_thread::sleep_for(2ms);
        }
        return m_in;
    }

    // Request at 300 Bd, identification, acknowledgement for 9600 Bd and the switch.
    void SignOn()
    {
        SetRate(B300);
        Write("/?!\r\n");
        ReadUntil([](const std::string& in) { return in.find('\n') != std::string::npos; });
        Write("\x06" "050\r\n");
        SetRate(B9600);
    }

    bool hungUp = false;

private:
    int m_fd;
    std::string m_in;
};

bool HasBlockEnd(const std::string& in)
{
    const auto etx = in.find('\x03');
    return etx != std::string::npos && etx + 1 < in.size();
}

MeterConfig FastConfig(std::vector<Fault> faults = {})
{
    MeterConfig config;
    config.reaction = 0ms;
    config.lines = BuiltInReadout();
    config.faults = std::move(faults);
    return config;
}

TEST(MeterSimPty, MeterSeesTheRatesTheReaderSets)
{
    PtyMeter meter(FastConfig());
    std::string error;
    ASSERT_EQ(meter.Start(error), PtyMeter::StartResult::Ok) << error;
    ReaderEnd reader(meter.DevicePath());
    ASSERT_TRUE(reader.IsOpen());
    reader.SignOn();
    const std::string in = reader.ReadUntil(HasBlockEnd);
    ASSERT_TRUE(meter.WaitForReports(1, 20s));
    meter.Stop();

    EXPECT_EQ(in.substr(0, 19), "/VAR5\\2VARNEL-SIM\r\n");
    EXPECT_TRUE(HasBlockEnd(in));
    const ReadoutReport report = meter.Reports().front();
    EXPECT_EQ(report.signOnBaud, 300);
    EXPECT_EQ(report.readerBaudAtData, 9600);
    EXPECT_TRUE(report.anomalies.empty()) << report.anomalies.front();
    EXPECT_EQ(report.outcome, "complete");
}

TEST(MeterSimPty, HangupLeavesAFreshDeviceBehindTheLink)
{
    const fs::path link = fs::path(testing::TempDir()) / "metersim-link";
    PtyMeter meter(FastConfig({Fault::Hangup}), link.string());
    std::string error;
    ASSERT_EQ(meter.Start(error), PtyMeter::StartResult::Ok) << error;
    const std::string first = meter.DevicePath();
    EXPECT_EQ(fs::read_symlink(link).string(), first);
    {
        ReaderEnd reader(link.string());
        ASSERT_TRUE(reader.IsOpen());
        reader.SignOn();
        const std::string in = reader.ReadUntil([](const std::string&) { return false; });
        EXPECT_TRUE(reader.hungUp);
        EXPECT_NE(in.find('\x02'), std::string::npos);
        EXPECT_EQ(in.find('\x03'), std::string::npos);
    }
    ASSERT_TRUE(meter.WaitForReports(1, 20s));
    EXPECT_EQ(meter.Reports().front().outcome, "hangup");
    const std::string second = meter.DevicePath();
    EXPECT_EQ(fs::read_symlink(link).string(), second);
    ReaderEnd again(link.string());
    EXPECT_TRUE(again.IsOpen());
    meter.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(MeterSimPty, LinkOverAFileIsRefused)
{
    const fs::path file = fs::path(testing::TempDir()) / "metersim-not-a-link";
    { std::ofstream(file.string()) << "keep"; }
    PtyMeter meter(FastConfig(), file.string());
    std::string error;
    EXPECT_EQ(meter.Start(error), PtyMeter::StartResult::LinkFailed);
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(file));
    fs::remove(file);
}

} // namespace
} // namespace varnel::sim
