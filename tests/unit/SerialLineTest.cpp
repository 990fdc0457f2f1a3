#include "FakePort.h"
#include "RecordingView.h"

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

// COMn is index n-1 on the user's mapping, else on the fixed ranges; in turn on one line, so an error that
// outlived its open would show in the next.
TEST_F(SerialLineTest, ComNumberIsIndexPlusOneOnItsDevice)
{
    names.SetMapping(33, "/dev/serial/by-id/usb-probe");
    std::string shown;
    for (const int index : {0, 96, 31, -1, 32, 33, 64, 2147483647}) {
        line.m_portIndex = index;
        const bool opened = line.OpenPort() == 0;
        shown += (opened ? port.device : "") + line.OpenError() + '|';
    }
    EXPECT_EQ(shown,
              "/dev/ttyS0|no device is known for COM97|/dev/ttyS31|no device is known for COM0|"
              "/dev/serial/by-id/usb-probe|/dev/ttyUSB1|/dev/ttyACM0|no device is known for COM2147483648|");
}

// A re-apply raises checked lines and leaves unchecked ones as the open wrote them; a transmit is logged
// first, then paced. Reads clear bit 7 (the parity bit of 7E1 through an 8-bit line), not on 8N1.
TEST_F(SerialLineTest, PortCallsInOrder)
{
    const std::uint8_t msg[] = {'/', '?', '!'};
    const std::string reply = "\x82\xc6.\xc6(00000000\xa9\x03";
    const auto read = [&] {
        std::uint8_t b[99];
        return std::string(reinterpret_cast<char*>(b), line.Read(b, 99));
    };
    port.Feed(reply);
    line.ApplyPortSettings();
    line.Transmit(msg, 2); // closed: logged, neither sent nor paced
    view.checks[IDC_RTS] = view.checks[IDC_DTR] = false;
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(read(), "\002F.F(00000000)\x03");
    line.m_baudRate = 9600;
    line.ApplyPortSettings();
    view.checks[IDC_RTS] = view.checks[IDC_DTR] = true;
    line.ApplyPortSettings();
    line.Transmit(msg, 3);
    port.failOpen = true;
    EXPECT_EQ(line.OpenPort(), 1);
    EXPECT_EQ(line.OpenError(), port.LastError());
    port.failOpen = false;
    line.m_testMode = line.m_breakOn = 1;
    line.m_eightBits = true;
    port.Feed(reply);
    ASSERT_EQ(line.OpenPort(), 0);
    EXPECT_EQ(read(), reply);
    EXPECT_EQ(port.calls, (std::vector<std::string>{
                              "log 2", "open /dev/ttyS0 300 7E1 rts=0 dtr=0 flow=0000000",
                              "apply 9600 7E1 rts=0 dtr=0 flow=0000000",
                              "apply 9600 7E1 rts=1 dtr=1 flow=0000000", "log 3", "write 2F", "write 3F",
                              "write 21", "close", "open /dev/ttyS0 9600 7E1 rts=1 dtr=1 flow=0000000",
                              "open /dev/ttyS0 9600 8N1 rts=1 dtr=1 flow=0000000 linetest", "break on"}));
}

} // namespace
} // namespace varnel::test
