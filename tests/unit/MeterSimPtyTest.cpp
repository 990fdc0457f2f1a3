// The simulated meter on a real pseudo-terminal: what only the device and its
// link can show. The rates a reader sets are checked end to end by varnel-read.
#include "MeterData.h"
#include "PtyMeter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace varnel::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

MeterConfig FastConfig(std::vector<Fault> faults = {})
{
    MeterConfig config;
    config.reaction = 0ms;
    config.lines = BuiltInReadout();
    config.faults = std::move(faults);
    return config;
}

TEST(MeterSimPty, HangupLeavesAFreshDeviceBehindTheLink)
{
    const fs::path link = fs::path(testing::TempDir()) / "metersim-link";
    PtyMeter meter(FastConfig({Fault::Hangup}), link.string());
    std::string error;
    ASSERT_EQ(meter.Start(error), PtyMeter::StartResult::Ok) << error;
    const std::string first = meter.DevicePath();
    EXPECT_EQ(fs::read_symlink(link).string(), first);

    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600); // paced: the block takes half a second, the hang-up comes in its middle
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    // Reads until `stop` holds or the line ends; true when it ended.
    std::string in;
    const auto readUntil = [&](char stop) {
        for (const auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                in.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return true;
            if (stop != '\0' && in.find(stop) != std::string::npos)
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    };
    ASSERT_EQ(write(fd, "/?!\r\n", 5), 5);
    EXPECT_FALSE(readUntil('\n'));
    ASSERT_EQ(write(fd, "\x06" "050\r\n", 6), 6);
    EXPECT_TRUE(readUntil('\0')) << "the line did not end";
    close(fd);
    EXPECT_NE(in.find('\x02'), std::string::npos);
    EXPECT_EQ(in.find('\x03'), std::string::npos);

    ASSERT_TRUE(meter.WaitForReports(1, 20s));
    EXPECT_EQ(meter.Reports().front().outcome, "hangup");
    const std::string second = meter.DevicePath();
    EXPECT_EQ(fs::read_symlink(link).string(), second);
    const int again = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(again, 0) << "the link leads nowhere";
    if (again >= 0)
        close(again);
    meter.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(MeterSimPty, LinkOverAFileIsRefused)
{
    const fs::path file = fs::path(testing::TempDir()) / "metersim-not-a-link";
    std::ofstream(file.string()) << "keep";
    PtyMeter meter(FastConfig(), file.string());
    std::string error;
    EXPECT_EQ(meter.Start(error), PtyMeter::StartResult::LinkFailed);
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_regular_file(file));
    fs::remove(file);
}

} // namespace
} // namespace varnel::sim
