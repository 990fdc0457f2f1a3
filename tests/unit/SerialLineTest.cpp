#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"

#include "core/ControlIds.h"
#include "serial/SerialLine.h"

#include <gtest/gtest.h>

namespace varnel::test {
namespace {

// Also the trace sink: its record goes into the port's journal, so its order against the writes shows.
struct SerialLineTest : ::testing::Test, SentBytesSink {
    SerialLineTest() { line.SetSentBytesSink(this); }
    void LogSentBytes(const std::uint8_t*, int count) override
    {
        port.calls.push_back("log " + std::to_string(count));
    }
    FakeClock clock;
    FakePort port{&clock};
    RecordingView view;
    PortNames names;
    SerialLine line{port, clock, view, names};
};

// COMn is index n-1 on the user's mapping, else on the fixed ranges; each row shows the device opened or
// the error. Rows run in order on one line, so an error that outlived its open would show in the next row.
TEST_F(SerialLineTest, ComNumberIsIndexPlusOneOnItsDevice)
{
    names.SetMapping(33, "/dev/serial/by-id/usb-probe");
    names.SetMapping(200, "/dev/ttyV0");
    const std::pair<int, std::string> rows[] = {{0, "/dev/ttyS0"},
                                                {96, "no device is known for COM97"},
                                                {31, "/dev/ttyS31"},
                                                {-1, "no device is known for COM0"},
                                                {32, "/dev/serial/by-id/usb-probe"},
                                                {33, "/dev/ttyUSB1"},
                                                {64, "/dev/ttyACM0"},
                                                {95, "/dev/ttyACM31"},
                                                {199, "/dev/ttyV0"},
                                                {2147483647, "no device is known for COM2147483648"}};
    for (const auto& [index, shown] : rows) {
        line.m_portIndex = index;
        EXPECT_EQ(line.OpenPort() == 0 && line.IsOpen() ? port.device + line.OpenError() : line.OpenError(),
                  shown);
    }
}

// Opens write the format, the rate and the boxes' levels with no flow control; a re-apply raises checked
// lines and leaves unchecked ones as reported; a transmit is logged first, then paced. Reads clear bit 7
// on 7E1 (read through an 8-bit line, it holds the parity bit), not on 8N1.
TEST_F(SerialLineTest, PortCallsInOrder)
{
    const std::uint8_t msg[] = {'/', '?', '!'};
    const std::string reply = "\x82\xc6.\xc6(00000000\xa9\x03";
    const auto read = [&] {
        std::uint8_t b[99];
        return std::string(reinterpret_cast<char*>(b), line.Read(b, 99));
    };
    const std::uint32_t start = clock.now;
    port.Feed(reply);
    line.ApplyPortSettings();
    line.Transmit(msg, 2); // closed: logged, neither sent nor paced
    EXPECT_EQ(read(), "");
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(read(), "\002F.F(00000000)\x03");
    view.checks[IDC_RTS] = false, line.m_baudRate = 9600;
    line.ApplyPortSettings();
    line.Transmit(msg, 3);
    EXPECT_EQ(port.writeTimes, (std::vector<std::uint32_t>{start, start + 50, start + 100}));
    EXPECT_EQ(clock.now, start + 100) << "no pause after the last byte";
    port.failOpen = true, port.lastError = "Device or resource busy";
    EXPECT_EQ(line.OpenPort(), 1);
    EXPECT_EQ(line.OpenError(), "Device or resource busy");
    line.ClosePort(); // already closed: not closed twice
    port.failOpen = false,
    port.failBreak = true; // the line test's open sets the break, whatever that call answers
    line.m_testMode = 1;
    ASSERT_EQ(line.OpenPort(), 0);
    view.checks[IDC_RTS] = true;
    line.ApplyPortSettings();
    line.m_breakOn = 1, line.m_eightBits = true;
    port.Feed(reply);
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(read(), reply);
    EXPECT_EQ(port.calls, (std::vector<std::string>{
                              "log 2", "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000",
                              "apply 9600 7E1 rts=1 dtr=1 flow=0000000", "log 3", "write 2F", "write 3F",
                              "write 21", "close", "open /dev/ttyS0 9600 7E1 rts=0 dtr=1 flow=0000000",
                              "open /dev/ttyS0 9600 7E1 rts=0 dtr=1 flow=0000000 linetest", "break off",
                              "apply 9600 7E1 rts=1 dtr=1 flow=0000000", "close",
                              "open /dev/ttyS0 9600 8N1 rts=1 dtr=1 flow=0000000 linetest", "break on"}));
}

} // namespace
} // namespace varnel::test
