#include "FakePort.h"
#include "RecordingView.h"
#include "TempDir.h"

#include "readout/BlockCheck.h"
#include "readout/ReadoutCore.h"
#include "readout/TelegramReader.h"

#include <gtest/gtest.h>

namespace varnel::test {
namespace {

using Rows = std::vector<std::string>;

std::string Block(const std::string& lines)
{
    const std::string body = lines + '\x03';
    return "\x02" + body + char(BlockCheck(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
}

class ReadoutEngineTest : public ::testing::Test {
protected:
    ReadoutEngineTest() : port(&clock), core(port, clock, view, names, dir.File("Log1107.txt")) {}

    void Start() // what the sign-on sends and calls is forgotten
    {
        core.engine.StartReadout();
        port.calls.clear();
        port.written.clear();
    }
    void Receive(const std::string& bytes, std::uint32_t ms = 50, bool push = false)
    {
        port.Feed(bytes);
        clock.Advance(ms);
        push ? reader.OnReceiveTick() : core.engine.OnReceiveTick();
    }
    std::string Written() const { return std::string(port.written.begin(), port.written.end()); }
    std::string Labels() // protocol, baud, flag|description
    {
        auto& t = view.texts;
        return t[IDC_PROTOCOL_LABEL] + " " + t[IDC_BAUD_LABEL] + " " + t[IDC_FLAG_LABEL] + "|"
               + t[IDC_DESCRIPTION_LABEL];
    }

    TempDir dir;
    FakeClock clock;
    FakePort port;
    RecordingView view;
    PortNames names;
    ReadoutCore core;
    TelegramReader reader{core.serial, core.rows, view, clock};
};

TEST_F(ReadoutEngineTest, StartSignsOnInOrder)
{
    view.comboSelection[IDC_INITIAL_BAUD] = 6; // "9600"
    core.engine.StartReadout();
    EXPECT_EQ(port.calls, (Rows{"open /dev/ttyS0 9600 7E1 rts=1 dtr=1 flow=0000000",
                                "apply 9600 7E1 rts=1 dtr=1 flow=0000000", "purge", "write 2F", "write 3F",
                                "write 21", "write 0D", "write 0A"}));
    EXPECT_EQ(clock.sleeps, (std::vector<int>{50, 50, 50, 50, 50})); // settle, then 4 gaps of the sign-on
    EXPECT_EQ(Labels(), "? 9600 ?|?");
}

enum class Via { Readout, Idle, Push }; // bytes during a readout, after one, or from a push meter

struct BytesCase {
    Via via;
    std::string bytes;
    Rows rows;
    std::string sent;
    ReadoutEnd end;
    const char* labels; // protocol, baud, flag|description
    std::size_t unread = 0;
};

class BytesTest : public ReadoutEngineTest, public ::testing::WithParamInterface<BytesCase> {};

TEST_P(BytesTest, RowsRepliesLabelsAndEnd)
{
    const BytesCase& c = GetParam();
    if (c.via == Via::Push)
        reader.Start(9600, 2);
    else if (c.via == Via::Idle)
        core.serial.OpenPort();
    else
        Start();
    Receive(c.bytes, 50, c.via == Via::Push);
    EXPECT_EQ(view.RowsWithColumns(), c.rows);
    EXPECT_EQ(Written(), c.sent);
    EXPECT_EQ(core.engine.LastEnd(), c.end);
    EXPECT_EQ(Labels(), c.labels);
    EXPECT_EQ(port.incoming.size(), c.unread);
}

const std::string kTelegram = "/ISK5MT174\r\n\r\n1.8.0(12*kWh)\r\n\r\n!\r\n";

INSTANTIATE_TEST_SUITE_P(
    Bytes, BytesTest,
    ::testing::Values(
        // A half-duplex probe's echo of the request is shown, not taken for the identification. A block check
        // byte is compared in the 7 bits a 7E1 line carries.
        BytesCase{Via::Readout,
                  "/?!\r\nXYZ\r\nab\0021(2)\r\n\004\xDA",
                  {"/?!", " -- Identification error -- ", "--- 0x61 ---", "--- 0x62 ---", " -- STX -- ",
                   "1(2) [1|2]", " -- EOT -- ", " -- BCC -- ", " -- BCC error (0x5A, expected 0x01) -- "},
                  "",
                  ReadoutEnd::BlockCheck,
                  "? Auto (300) ?|?"},
        // Unasked: events, a block, commands (only B0 and P0 mean something), a break message, noise; a
        // line's 1000th byte, the first of a read, overflows it and ends the tick, dropping its chunk's rest.
        BytesCase{Via::Idle,
                  "\x03\x04\x15" + Block("1(2)\r\n") + "\x01P1\001B1\001B0\x03" + std::string(76, 'q')
                      + "\x01P0" + std::string(995, 'x') + "abcde" + std::string(149, 'y'),
                  {" -- 03 --", " -- 04 --", " -- 15 --", " -- STX -- ", "1(2) [1|2]", " -- ETX -- ",
                   " -- BCC -- ", " -- SOH -- ", " -- SOH -- ", " -- SOH -- ",
                   " -- Break message is received  -- ", " -- BCC -- ", " -- Send break message -- ",
                   " -- SOH -- ", " -- Password is required -- ", std::string(995, 'x') + "abcd"},
                  "\001B0\x03q",
                  ReadoutEnd::BlockCheck,
                  "  |",
                  50},
        // A push meter: the rest of a telegram under way when the port opened is shown as it came, a line cut
        // after 999 bytes and at a NUL; two telegrams are asked for, the third's first line is left unshown.
        BytesCase{Via::Push,
                  "\r\n1(9)\r\n!\r\n" + std::string(999, 'x') + "yz\r\nab" + std::string(998, '\0') + "yz\r\n"
                      + kTelegram + kTelegram + kTelegram,
                  {"1(9)", "!", std::string(999, 'x'), "z", "ab", "yz", "/ISK5MT174",
                   "1.8.0(12*kWh) [1.8.0|12]", " [|]", "! [|]", "/ISK5MT174", "1.8.0(12*kWh) [1.8.0|12]",
                   " [|]", "! [|]"},
                  "",
                  ReadoutEnd::None,
                  "D 9600 ISK|MT174",
                  20},
        // A P1 CRC (CRC-16/ARC from "/" to "!", in lower case here) and a block check, each verified.
        BytesCase{Via::Push,
                  "\x02/ABC5X\r\n\r\n1(2)\r\n!6ab3\r\n\x03q",
                  {" -- STX -- ", "/ABC5X", "1(2) [1|2]", "!6ab3 [|]", " -- ETX -- ", " -- BCC -- ",
                   " -- BCC error (0x71, expected 0x24) -- "},
                  "",
                  ReadoutEnd::None,
                  "D 9600 ABC|X"}));

struct IdentCase {
    const char* line;
    const char* labels;
    std::int32_t rate;
    int transmitItem = 0;
};

class IdentificationTest : public ReadoutEngineTest, public ::testing::WithParamInterface<IdentCase> {};

TEST_P(IdentificationTest, ModeRateLabelsAndAcknowledgement)
{
    const IdentCase& c = GetParam();
    view.comboSelection = {{IDC_INITIAL_BAUD, 6}, {IDC_TRANSMIT_BAUD, c.transmitItem}}; // a sign-on at 9600
    Start();
    Receive(std::string(c.line) + "\n"); // a lone LF: the last character stays
    EXPECT_EQ(Labels(), c.labels);
    EXPECT_EQ(core.serial.m_baudRate, c.rate);
    // Mode C is acknowledged; A and B send nothing.
    EXPECT_EQ(Written(), c.labels[0] == 'E' ? std::string("\0060") + c.line[4] + "0\r\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IdentificationTest,
    ::testing::Values(IdentCase{"/ABC7x", "E 300 ABC|x", 300}, IdentCase{"/ABC5x", "E 2400 ABC|x", 2400, 4},
                      IdentCase{"/SIEC2WR5", "B 9600 SIE|2WR5", 2400},
                      IdentCase{"/KAM MC", "A 9600 KAM|MC", 300},
                      // Short lines: positions past the end are empty, never stale bytes.
                      IdentCase{"/AB", "A 9600 AB|", 300}));

// A readout ends after 3 s of silence, a push meter's reading after 15 s; idle never times out.
TEST_F(ReadoutEngineTest, SilenceEndsAReadingOnceAndABreakLeftPendingIsAnsweredOnceNextTime)
{
    clock.now = 0xFFFFFFFFu - 1000u; // the deadline lies past the tick count's wrap
    Start();
    Receive("/KAM MC\r\n" + Block("!\r\n") + "\001B0");
    Receive("", 3000); // at the deadline the last byte set: not yet over
    EXPECT_EQ(view.rows.size(), 7u);
    Receive("", 1);
    EXPECT_EQ(view.RowsWithColumns().back(), " -- Tout -- ");
    EXPECT_EQ(core.engine.LastEnd(), ReadoutEnd::TimeOut);
    EXPECT_TRUE(view.TimerRunning(TIMER_RECEIVE)); // the port keeps being polled
    Receive("", 10000);
    EXPECT_EQ(view.rows.size(), 8u);
    for (int readout = 0; readout < 2; ++readout) {
        Start();
        Receive("/KAM MC\r\n" + Block("!\r\n"));
        EXPECT_EQ(Written(), readout ? "" : "\001B0\x03q");
    }
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")).find("==> <01>"), std::string::npos); // unlogged

    reader.Start(9600, 1);
    Receive("x", 10000, true); // a byte restarts the silence
    Receive("", 15000, true);
    EXPECT_TRUE(view.rows.empty());
    Receive("", 1, true);
    Receive("", 1, true);
    EXPECT_EQ(view.RowsWithColumns(), Rows{" -- Tout -- "});
}

} // namespace
} // namespace varnel::test
