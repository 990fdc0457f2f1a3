#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"

#include "core/ControlIds.h"
#include "serial/SerialLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel::test {
namespace {

// Puts the trace record into the port's journal so its order against the
// writes can be asserted.
class JournalSink final : public SentBytesSink {
public:
    explicit JournalSink(FakePort& port) : m_port(port) {}
    void LogSentBytes(const std::uint8_t*, int count) override
    {
        m_port.calls.push_back("log " + std::to_string(count));
    }

private:
    FakePort& m_port;
};

class SerialLineTest : public ::testing::Test {
protected:
    SerialLineTest() : port(&clock), sink(port), line(port, clock, view, names)
    {
        line.SetSentBytesSink(&sink);
    }

    FakeClock clock;
    FakePort port;
    RecordingView view;
    PortNames names;
    JournalSink sink;
    SerialLine line;
};

struct DeviceCase {
    int portIndex;
    const char* device; // empty: no device, the open fails
};

class PortDeviceTest : public SerialLineTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(PortDeviceTest, ComNumberIsIndexPlusOneOnItsDevice)
{
    line.m_portIndex = GetParam().portIndex;
    const std::string expected = GetParam().device;
    EXPECT_EQ(line.OpenPort(), expected.empty() ? 1 : 0);
    EXPECT_EQ(line.IsOpen(), !expected.empty());
    if (!expected.empty())
        EXPECT_EQ(port.device, expected);
    else
        EXPECT_TRUE(port.CallsStartingWith("open").empty());
}

INSTANTIATE_TEST_SUITE_P(Ranges, PortDeviceTest,
                         ::testing::Values(DeviceCase{0, "/dev/ttyS0"}, DeviceCase{9, "/dev/ttyS9"},
                                           DeviceCase{31, "/dev/ttyS31"}, DeviceCase{32, "/dev/ttyUSB0"},
                                           DeviceCase{64, "/dev/ttyACM0"}, DeviceCase{95, "/dev/ttyACM31"},
                                           DeviceCase{96, ""}, DeviceCase{255, ""}, DeviceCase{-1, ""},
                                           DeviceCase{2147483647, ""}));

TEST_F(SerialLineTest, UserMappingWinsOverTheFixedRanges)
{
    names.SetMapping(33, "/dev/serial/by-id/usb-probe");
    line.m_portIndex = 32;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.device, "/dev/serial/by-id/usb-probe");
    EXPECT_EQ(line.PortName(), "COM33");
}

TEST_F(SerialLineTest, OpenWrites7E1AtTheRateWithBoxLevelsAndNoFlowControl)
{
    line.m_baudRate = 2400;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.calls.back(), "open /dev/ttyS0 2400 7E1 rts=1 dtr=1 flow=0000000");

    view.checks[IDC_RTS] = false;
    view.checks[IDC_DTR] = false;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.calls.back(), "open /dev/ttyS0 2400 7E1 rts=0 dtr=0 flow=0000000");
}

TEST_F(SerialLineTest, ReopenClosesTheOldHandleFirstEvenWhenTheNewOpenFails)
{
    ASSERT_EQ(line.OpenPort(), 0);
    port.failOpen = true;
    port.lastError = "Device or resource busy";
    EXPECT_EQ(line.OpenPort(), 1);
    EXPECT_FALSE(line.IsOpen());
    ASSERT_GE(port.calls.size(), 3u);
    EXPECT_EQ(port.calls[1], "close");
    EXPECT_EQ(port.calls[2].substr(0, 5), "open ");
    EXPECT_EQ(line.OpenError(), "Device or resource busy");
    // A closed port is not closed twice.
    line.ClosePort();
    EXPECT_EQ(port.CallsStartingWith("close").size(), 1u);
}

TEST_F(SerialLineTest, LineTestOpenClearsOrSetsBreakAndIgnoresItsResult)
{
    line.m_testMode = 1;
    port.failBreak = true;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.calls, (std::vector<std::string>{
                              "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000 linetest", "break off"}));
    line.m_breakOn = 1;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.calls.back(), "break on");
}

TEST_F(SerialLineTest, ApplyRaisesCheckedLinesAndLeavesUncheckedOnesAsReported)
{
    line.ApplyPortSettings();
    EXPECT_TRUE(port.calls.empty()) << "no call at all on a closed port";

    ASSERT_EQ(line.OpenPort(), 0); // both boxes checked: both ENABLE
    view.checks[IDC_RTS] = false;
    line.m_baudRate = 9600;
    line.ApplyPortSettings();
    EXPECT_EQ(port.calls.back(), "apply 9600 7E1 rts=1 dtr=1 flow=0000000");

    view.checks[IDC_DTR] = false;
    ASSERT_EQ(line.OpenPort(), 0); // both DISABLE now
    view.checks[IDC_DTR] = true;
    line.ApplyPortSettings();
    EXPECT_EQ(port.calls.back(), "apply 9600 7E1 rts=0 dtr=1 flow=0000000");
}

TEST_F(SerialLineTest, TransmitLogsFirstThenSendsBytes50msApart)
{
    ASSERT_EQ(line.OpenPort(), 0);
    port.calls.clear();
    const std::uint8_t msg[] = {'/', '?', '!', '\r', '\n'};
    const std::uint32_t start = clock.now;
    line.Transmit(msg, 5);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"log 5", "write 2F", "write 3F", "write 21", "write 0D",
                                                    "write 0A"}));
    EXPECT_EQ(port.writeTimes,
              (std::vector<std::uint32_t>{start, start + 50, start + 100, start + 150, start + 200}));
    EXPECT_EQ(clock.now, start + 200) << "no pause after the last byte";

    port.calls.clear();
    line.Transmit(msg, 1);
    line.Transmit(msg, 0);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"log 1", "write 2F", "log 0"}));
}

TEST_F(SerialLineTest, TransmitOnAClosedPortOnlyLogs)
{
    const std::uint8_t msg[] = {'/', '?'};
    line.Transmit(msg, 2);
    EXPECT_EQ(port.calls, (std::vector<std::string>{"log 2"}));
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(SerialLineTest, ReadClearsTheParityBitOfEveryByte)
{
    // A 7E1 reply read through an 8-bit line: the parity bit is bit 7.
    port.Feed(std::string("\x82\xc6.\xc6(00000000\xa9\x03", 15));
    std::uint8_t buf[100];
    EXPECT_EQ(line.Read(buf, sizeof buf), 0u) << "closed port reads nothing";
    ASSERT_EQ(line.OpenPort(), 0);
    const std::size_t n = line.Read(buf, sizeof buf);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), std::string("\x02" "F.F(00000000)\x03"));
}

} // namespace
} // namespace varnel::test
