#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"

#include "core/ControlIds.h"
#include "serial/SerialLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel::test {
namespace {

using Strings = std::vector<std::string>;

// Puts the trace record into the port's journal, so its order against the writes shows.
struct JournalSink final : SentBytesSink {
    explicit JournalSink(FakePort& p) : port(p) {}
    void LogSentBytes(const std::uint8_t*, int count) override { port.calls.push_back("log " + std::to_string(count)); }
    FakePort& port;
};

struct SerialLineTest : ::testing::Test {
    SerialLineTest() { line.SetSentBytesSink(&sink); }
    FakeClock clock;
    FakePort port{&clock};
    RecordingView view;
    PortNames names;
    JournalSink sink{port};
    SerialLine line{port, clock, view, names};
};

// Rows run in order on one line: no error outlives the open that had it.
TEST_F(SerialLineTest, ComNumberIsIndexPlusOneOnItsDeviceTheUsersMappingFirst)
{
    names.SetMapping(33, "/dev/serial/by-id/usb-probe");
    names.SetMapping(200, "/dev/ttyV0");
    const struct { int portIndex; const char* device; const char* error; } rows[] = {
        {0, "/dev/ttyS0", ""}, {96, "", "no device is known for COM97"}, {9, "/dev/ttyS9", ""},
        {31, "/dev/ttyS31", ""}, {-1, "", "no device is known for COM0"}, {32, "/dev/serial/by-id/usb-probe", ""},
        {33, "/dev/ttyUSB1", ""}, {64, "/dev/ttyACM0", ""}, {95, "/dev/ttyACM31", ""}, {199, "/dev/ttyV0", ""},
        {255, "", "no device is known for COM256"}, {2147483647, "", "no device is known for COM2147483648"}};
    for (const auto& r : rows) {
        line.m_portIndex = r.portIndex;
        port.calls.clear();
        EXPECT_EQ(line.OpenPort(), *r.device ? 0 : 1) << r.portIndex;
        EXPECT_EQ(line.IsOpen() ? port.device : "", r.device);
        EXPECT_EQ(port.CallsStartingWith("open").size(), *r.device ? 1u : 0u);
        EXPECT_EQ(line.OpenError(), r.error);
    }
}

// The character format and box levels of the open; 7E1 read through an 8-bit line leaves parity in bit 7.
TEST_F(SerialLineTest, OpenWritesTheFormatAtTheRateWithBoxLevelsAndNoFlowControl)
{
    const struct { bool eightBits, rts, dtr; const char* open; std::string read; } rows[] = {
        {false, false, true, "open /dev/ttyS0 2400 7E1 rts=0 dtr=1 flow=0000000", "\x02" "F.F(00000000)\x03"},
        {true, true, false, "open /dev/ttyS0 2400 8N1 rts=1 dtr=0 flow=0000000", "\x82\xc6.\xc6(00000000\xa9\x03"}};
    line.m_baudRate = 2400;
    for (const auto& r : rows) {
        view.checks = {{IDC_RTS, r.rts}, {IDC_DTR, r.dtr}};
        line.m_eightBits = r.eightBits;
        port.Feed(std::string("\x82\xc6.\xc6(00000000\xa9\x03"));
        std::uint8_t buf[100];
        EXPECT_EQ(line.Read(buf, sizeof buf), 0u) << "a closed port reads nothing";
        ASSERT_EQ(line.OpenPort(), 0);
        EXPECT_EQ(port.calls.back(), r.open);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), line.Read(buf, sizeof buf)), r.read);
        line.ClosePort();
    }
}

TEST_F(SerialLineTest, ReopenClosesTheOldHandleFirstEvenWhenTheNewOpenFails)
{
    ASSERT_EQ(line.OpenPort(), 0);
    port.failOpen = true;
    port.lastError = "Device or resource busy";
    EXPECT_EQ(line.OpenPort(), 1);
    EXPECT_EQ(line.OpenError(), "Device or resource busy");
    line.ClosePort(); // a closed port is not closed twice
    EXPECT_EQ(port.calls, (Strings{"open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000", "close",
                                   "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000"}));
    port.failOpen = false;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(line.OpenError(), "") << "the last open's error outlived it";
}

// The open's own break call, its result ignored.
TEST_F(SerialLineTest, LineTestOpenClearsOrSetsBreak)
{
    line.m_testMode = 1;
    port.failBreak = true;
    ASSERT_EQ(line.OpenPort(), 0);
    line.m_breakOn = 1;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(port.calls, (Strings{"open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000 linetest", "break off", "close",
                                   "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000 linetest", "break on"}));
}

TEST_F(SerialLineTest, ApplyRaisesCheckedLinesAndLeavesUncheckedOnesAsReported)
{
    line.ApplyPortSettings(); // no call at all on a closed port
    ASSERT_EQ(line.OpenPort(), 0); // both boxes checked: both raised
    view.checks[IDC_RTS] = false;
    line.m_baudRate = 9600;
    line.ApplyPortSettings();
    view.checks[IDC_DTR] = false;
    ASSERT_EQ(line.OpenPort(), 0); // both lowered now
    view.checks[IDC_DTR] = true;
    line.ApplyPortSettings();
    EXPECT_EQ(port.CallsStartingWith("apply"),
              (Strings{"apply 9600 7E1 rts=1 dtr=1 flow=0000000", "apply 9600 7E1 rts=0 dtr=1 flow=0000000"}));
}

TEST_F(SerialLineTest, TransmitLogsFirstThenSendsBytes50msApartOnlyWhenOpen)
{
    const std::uint8_t msg[] = {'/', '?', '!', '\r', '\n'};
    const std::uint32_t start = clock.now;
    line.Transmit(msg, 2); // a closed port: logged, neither sent nor paced
    ASSERT_EQ(line.OpenPort(), 0);
    line.Transmit(msg, 5);
    EXPECT_EQ(port.writeTimes, (std::vector<std::uint32_t>{start, start + 50, start + 100, start + 150, start + 200}));
    EXPECT_EQ(clock.now, start + 200) << "no pause after the last byte";
    line.Transmit(msg, 1);
    line.Transmit(msg, 0);
    EXPECT_EQ(port.calls, (Strings{"log 2", "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000", "log 5", "write 2F", "write 3F", "write 21", "write 0D", "write 0A",
                                   "log 1", "write 2F", "log 0"}));
}

} // namespace
} // namespace varnel::test
