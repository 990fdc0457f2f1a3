#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"
#include "TempDir.h"

#include "core/ControlIds.h"
#include "readout/ReadoutCore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace varnel::test {
namespace {

using Rows = std::vector<std::string>;

std::string Block(const std::string& lines, char end = '\x03')
{
    std::string b = "\x02" + lines + end;
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < b.size(); ++i)
        bcc ^= static_cast<std::uint8_t>(b[i]);
    return b + static_cast<char>(bcc);
}

class ReadoutEngineTest : public ::testing::Test {
protected:
    ReadoutEngineTest() : port(&clock), core(port, clock, view, names, dir.File("Log1107.txt")) {}

    void Start()
    {
        core.engine.StartReadout();
        port.calls.clear();
        port.written.clear();
    }
    // One receive tick, 50 ms after the previous one.
    void Tick()
    {
        clock.Advance(50);
        core.engine.OnReceiveTick();
    }
    void Receive(const std::string& bytes)
    {
        port.Feed(bytes);
        Tick();
    }
    std::string Label(int id) { return view.texts[id]; }
    std::string Written() const { return std::string(port.written.begin(), port.written.end()); }

    TempDir dir;
    FakeClock clock;
    FakePort port;
    RecordingView view;
    PortNames names;
    ReadoutCore core;
};

TEST_F(ReadoutEngineTest, StartOpensConfiguresLogsAndSignsOnInOrder)
{
    view.comboSelection[IDC_INITIAL_BAUD] = 6; // "9600"
    const std::uint32_t t0 = clock.now;
    core.engine.StartReadout();
    EXPECT_EQ(port.calls, (Rows{"open /dev/ttyS0 9600 7E1 rts=1 dtr=1 flow=0000000",
                                "apply 9600 7E1 rts=1 dtr=1 flow=0000000", "purge", "write 2F", "write 3F",
                                "write 21", "write 0D", "write 0A"}));
    EXPECT_EQ(clock.sleeps, (std::vector<int>{50, 50, 50, 50, 50})) << "settle, then 4 gaps of the sign-on";
    EXPECT_EQ(Label(IDC_BAUD_LABEL), "9600");
    EXPECT_EQ(Label(IDC_PROTOCOL_LABEL), "?");
    EXPECT_EQ(Label(IDC_FLAG_LABEL), "?");
    EXPECT_EQ(Label(IDC_DESCRIPTION_LABEL), "?");
    EXPECT_EQ(view.timers[TIMER_RECEIVE], 50);
    EXPECT_EQ(core.engine.State(), READ_AWAIT_IDENT);
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")), "==> /?!<0D><0A>\r\n");
    (void)t0;
}

TEST_F(ReadoutEngineTest, ModeCReadoutGivesTheTypicalRowsLabelsAndLog)
{
    Start();
    Receive("/ABC5\\2XYZ\r\n");
    EXPECT_EQ(Label(IDC_FLAG_LABEL), "ABC");
    EXPECT_EQ(Label(IDC_DESCRIPTION_LABEL), "XYZ");
    EXPECT_EQ(Label(IDC_PROTOCOL_LABEL), "E");
    EXPECT_EQ(Label(IDC_BAUD_LABEL), "9600");
    // The acknowledgement goes out at the initial rate, then the port follows.
    EXPECT_EQ(port.calls, (Rows{"write 06", "write 30", "write 35", "write 30", "write 0D", "write 0A",
                                "apply 9600 7E1 rts=1 dtr=1 flow=0000000"}));
    EXPECT_EQ(view.journal.back(), "start 32771 50");

    Receive(Block("1.8.0(012.5*kWh)\r\n0.9.1(103)\r\n\r\n!\r\n"));
    EXPECT_EQ(view.RowTexts(), (Rows{"/ABC5\\2XYZ", " -- STX -- ", "1.8.0(012.5*kWh)", "0.9.1(103)", "", "!",
                                     " -- ETX -- ", " -- BCC -- "}));
    EXPECT_EQ(view.rows[2].code, "1.8.0");
    EXPECT_EQ(view.rows[2].value, "012.5");
    EXPECT_TRUE(view.rows[4].hasColumns) << "a lone line end is an empty data row";
    EXPECT_EQ(core.engine.State(), READ_IDLE);
    EXPECT_EQ(core.engine.LastEnd(), ReadoutEnd::BlockCheck);
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")),
              "==> /?!<0D><0A>\r\n<== /ABC5\\2XYZ\r\n==> <06>050<0D><0A>\r\n<==  -- STX -- \r\n"
              "<== 1.8.0(012.5*kWh)\r\n<== 0.9.1(103)\r\n<== \r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n");
}

TEST_F(ReadoutEngineTest, ExplicitTransmitRateSwitchesThePortButNotTheAcknowledgement)
{
    view.comboSelection[IDC_TRANSMIT_BAUD] = 4; // "2400"
    Start();
    Receive("/ABC5\\2XYZ\r\n");
    EXPECT_EQ(Written(), "\x06" "050\r\n");
    EXPECT_EQ(port.calls.back(), "apply 2400 7E1 rts=1 dtr=1 flow=0000000");
    EXPECT_EQ(Label(IDC_BAUD_LABEL), "2400");
}

struct IdentCase {
    const char* line;
    const char* protocol;
    std::int32_t rate;
    const char* flag;
    const char* description;
};

class IdentificationTest : public ReadoutEngineTest, public ::testing::WithParamInterface<IdentCase> {};

TEST_P(IdentificationTest, ModeRateAndLabels)
{
    const IdentCase& c = GetParam();
    Start();
    Receive(std::string(c.line) + "\r\n");
    EXPECT_EQ(Label(IDC_PROTOCOL_LABEL), c.protocol);
    EXPECT_EQ(core.serial.m_baudRate, c.rate);
    EXPECT_EQ(Label(IDC_FLAG_LABEL), c.flag);
    EXPECT_EQ(Label(IDC_DESCRIPTION_LABEL), c.description);
    if (std::string(c.protocol) != "E") {
        EXPECT_TRUE(port.written.empty()) << "only mode C is acknowledged";
        EXPECT_TRUE(port.CallsStartingWith("apply").empty()) << "modes A and B keep the port's rate";
        EXPECT_EQ(Label(IDC_BAUD_LABEL), "Auto (300)");
    }
    EXPECT_EQ(core.engine.State(), READ_AWAIT_STX);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IdentificationTest,
    ::testing::Values(IdentCase{"/XYZ4Meter", "E", 4800, "XYZ", "Meter"},
                      IdentCase{"/ISk5MT174-0001", "E", 9600, "ISk", "MT174-0001"},
                      IdentCase{"/ACE0\\3k260V01.19", "E", 300, "ACE", "k260V01.19"},
                      IdentCase{"/ABC8X", "E", 300, "ABC", "X"}, IdentCase{"/SIEC2WR5", "B", 2400, "SIE", "2WR5"},
                      IdentCase{"/ABCFx", "B", 19200, "ABC", "x"}, IdentCase{"/ABCGx", "B", 300, "ABC", "x"},
                      IdentCase{"/KAM MC", "A", 300, "KAM", "MC"},
                      // A half-duplex probe's echo of the request is not the identification.
                      IdentCase{"/?!\r\n/ITR5EM214", "E", 9600, "ITR", "EM214"},
                      // Short lines: positions past the end are empty, never stale bytes.
                      IdentCase{"/AB", "A", 300, "AB", ""}, IdentCase{"/ABC5\\", "E", 9600, "ABC", ""}));

TEST_F(ReadoutEngineTest, LfOnlyLinesKeepTheirLastCharacter)
{
    Start();
    Receive("/LGZ4ZMF100AC.M27\n");
    EXPECT_EQ(Label(IDC_DESCRIPTION_LABEL), "ZMF100AC.M27");
    Receive(Block("0.0(        18438636)\n\n!\n"));
    EXPECT_EQ(view.RowTexts(), (Rows{"/LGZ4ZMF100AC.M27", " -- STX -- ", "0.0(        18438636)", "", "!",
                                     " -- ETX -- ", " -- BCC -- "}));
    EXPECT_EQ(view.rows[2].value, "        18438636");
}

TEST_F(ReadoutEngineTest, BadIdentificationReportsEachByteUntilStx)
{
    Start();
    Receive("XYZ\r\nab\x02" "1(2)\r\n\x04" "Z");
    EXPECT_EQ(view.RowTexts(), (Rows{" -- Identification error -- ", "--- 0x61 ---", "--- 0x62 ---", " -- STX -- ",
                                     "1(2)", " -- EOT -- ", " -- BCC -- "}));
    EXPECT_EQ(Label(IDC_FLAG_LABEL), "?");
}

TEST_F(ReadoutEngineTest, SilenceEndsTheReadoutAfter3000msOfNoBytes)
{
    Start();
    clock.Advance(3000);
    core.engine.OnReceiveTick(); // exactly at the deadline: not yet
    EXPECT_TRUE(view.rows.empty());
    Tick();
    EXPECT_EQ(view.RowTexts(), (Rows{" -- Tout -- "}));
    EXPECT_EQ(core.engine.LastEnd(), ReadoutEnd::TimeOut);
    EXPECT_TRUE(view.TimerRunning(TIMER_RECEIVE)) << "the port keeps being polled";
    clock.Advance(10000);
    Tick();
    EXPECT_EQ(view.rows.size(), 1u) << "idle never times out";
}

TEST_F(ReadoutEngineTest, EveryByteRefreshesTheDeadline)
{
    Start();
    for (int i = 0; i < 5; ++i) {
        clock.Advance(2900);
        Receive("x");
    }
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(core.engine.State(), READ_AWAIT_IDENT);
}

TEST_F(ReadoutEngineTest, DeadlineSurvivesTheTickCountWrap)
{
    clock.now = 0xFFFFFFFFu - 1000u;
    Start();
    Tick();
    EXPECT_TRUE(view.rows.empty()) << "a deadline past the wrap is not already over";
    clock.Advance(3000);
    Tick();
    EXPECT_EQ(view.RowTexts(), (Rows{" -- Tout -- "}));
}

TEST_F(ReadoutEngineTest, UnopenedPortShowsTheErrorAndTicksDoNothing)
{
    port.failOpen = true;
    core.engine.StartReadout();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Open port COM error");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Stop);
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")), "==> /?!<0D><0A>\r\n");
    clock.Advance(60000);
    Tick();
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(core.engine.State(), READ_AWAIT_IDENT);
}

TEST_F(ReadoutEngineTest, IdleEventsAndCommands)
{
    Start();
    Receive("/ABC0X\r\n" + Block("!\r\n"));
    core.rows.ClearRows();
    port.written.clear();
    Receive(std::string("\x03\x04\x15\x01P0", 6));
    EXPECT_EQ(view.RowTexts(), (Rows{" -- 03 --", " -- 04 --", " -- 15 --", " -- SOH -- ",
                                     " -- Password is required -- "}));
    EXPECT_TRUE(port.written.empty());
}

TEST_F(ReadoutEngineTest, BreakMessageIsAnsweredOnceAfterTheNextByte)
{
    Start();
    Receive("/ABC0X\r\n" + Block("!\r\n"));
    core.rows.ClearRows();
    Receive(std::string("\x01" "B0\x03q", 5));
    EXPECT_EQ(view.RowTexts(), (Rows{" -- SOH -- ", " -- Break message is received  -- ", " -- BCC -- ",
                                     " -- Send break message -- "}));
    EXPECT_EQ(port.calls.back(), "write 01 42 30 03 71");
    EXPECT_EQ(port.CallsStartingWith("write 01").size(), 1u);
    const std::string log = ReadFileBytes(dir.File("Log1107.txt"));
    EXPECT_EQ(log.find("==> <01>"), std::string::npos) << "the break reply is not logged as sent";
}

TEST_F(ReadoutEngineTest, PendingBreakSurvivesTimeOutAndIsAnsweredInTheNextReadout)
{
    Start();
    Receive("/ABC0X\r\n" + Block("!\r\n"));
    Receive(std::string("\x01" "B0", 3));
    clock.Advance(3100);
    Tick();
    EXPECT_EQ(view.RowTexts().back(), " -- Tout -- ");
    EXPECT_TRUE(core.engine.BreakPending());

    Start();
    Receive("/ABC0X\r\n" + Block("!\r\n"));
    EXPECT_EQ(view.RowTexts().back(), " -- Send break message -- ");
    EXPECT_EQ(port.calls.back(), "write 01 42 30 03 71");
    EXPECT_FALSE(core.engine.BreakPending());
}

TEST_F(ReadoutEngineTest, OverflowShowsFirst999BytesAndDropsTheRestOfTheChunk)
{
    Start();
    Receive("/ABC0X\r\n" + Block("!\r\n"));
    core.rows.ClearRows();
    // Idle bytes accumulate; the 1000th overflows inside the tenth 100-byte chunk.
    port.Feed(std::string(995, 'x') + "abcde" + std::string(50, 'y'));
    Tick();
    EXPECT_EQ(view.RowTexts(), (Rows{std::string(995, 'x') + "abcd"}));
    EXPECT_EQ(port.incoming.size(), 50u) << "the tick stops at the overflow";
}

TEST_F(ReadoutEngineTest, OneTickDrainsEverythingThatArrived)
{
    Start();
    Receive("/ABC6X\r\n");
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "1.8." + std::to_string(i) + "(000123.456*kWh)\r\n";
    ASSERT_GT(lines.size(), 4000u);
    Receive(Block(lines + "!\r\n"));
    EXPECT_EQ(view.rows.size(), 205u);
    EXPECT_EQ(core.engine.State(), READ_IDLE);
}

TEST_F(ReadoutEngineTest, CapturedMeterReplyReadsEveryLine)
{
    const std::string path = std::string(VARNEL_CORPUS_DIR) + "/iskra_mt174_modeC.bin";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        GTEST_SKIP() << "captured responses not found at " << path;
    const std::string capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto stx = capture.find('\x02');
    ASSERT_NE(stx, std::string::npos);
    const auto etx = capture.find('\x03', stx);
    std::size_t lineEnds = 0;
    for (std::size_t i = stx; i < etx; ++i)
        lineEnds += capture[i] == '\n';

    Start();
    port.Feed(capture);
    for (int i = 0; i < 10 && !port.incoming.empty(); ++i)
        Tick();
    EXPECT_EQ(Label(IDC_FLAG_LABEL), "ISk");
    const Rows rows = view.RowTexts();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[rows.size() - 2], " -- ETX -- ");
    EXPECT_EQ(rows.back(), " -- BCC -- ");
    std::size_t dataRows = 0;
    for (const auto& r : view.rows)
        dataRows += r.hasColumns;
    EXPECT_EQ(dataRows, lineEnds);
}

} // namespace
} // namespace varnel::test
