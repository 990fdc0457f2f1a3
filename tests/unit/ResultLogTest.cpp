#include "RecordingView.h"
#include "TempDir.h"

#include "readout/ResultLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace varnel::test {
namespace {

struct ParseCase {
    const char* line;
    const char* code;
    const char* value;
};

class ParseDataLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseDataLineTest, SplitsCodeAndFirstValue)
{
    RecordingView view;
    ResultLog rows(view, "unused");
    rows.m_code = "stale";
    rows.m_value = "stale";
    rows.ParseDataLine(GetParam().line);
    EXPECT_EQ(rows.m_code, GetParam().code);
    EXPECT_EQ(rows.m_value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseDataLineTest,
    ::testing::Values(ParseCase{"1.8.0(012.5*kWh)", "1.8.0", "012.5"}, ParseCase{"0.9.1(103)", "0.9.1", "103"},
                      ParseCase{"0.0.0(A1B2)", "0.0.0", "A1B2"}, ParseCase{"!", "", ""},
                      ParseCase{"(00054.386)", "", ""}, ParseCase{"C.1.0(", "C.1.0", ""},
                      ParseCase{"1-0:1.8.1*07(0006334.294*kWh)", "1-0:1.8.1*07", "0006334.294"},
                      ParseCase{"1.6.0(02.468*kW)(1703100930)", "1.6.0", "02.468"},
                      // Several groups on one line: a '*' of a later group must not end this value.
                      ParseCase{"6.8.4*01()6.8.5*01()9.4*01(088*C&082*C)", "6.8.4*01", ""},
                      ParseCase{"0.0(        18438636)", "0.0", "        18438636"},
                      ParseCase{"", "", ""}));

class ResultLogTest : public ::testing::Test {
protected:
    std::string LogBytes() const { return ReadFileBytes(dir.File("Log1107.txt")); }

    TempDir dir;
    RecordingView view;
    ResultLog rows{view, dir.File("Log1107.txt")};
};

TEST_F(ResultLogTest, TraceLogRecordsSentBytesAndRowsWithCrLf)
{
    rows.OpenLog();
    const std::uint8_t signOn[] = {'/', '?', '!', 0x0D, 0x0A};
    const std::uint8_t ack[] = {0x06, '0', '5', '0', 0x0D, 0x0A};
    // 0x13 is below 20 decimal, 0x14 is not: the cut is decimal 20, not 0x20.
    const std::uint8_t edge[] = {0x13, 0x14, 0x1F, 0x00};
    rows.LogSentBytes(signOn, 5);
    rows.AddRow("/ABC5\\2XYZ", false);
    rows.LogSentBytes(ack, 6);
    rows.AddRow(" -- STX -- ", false);
    rows.ParseDataLine("1.8.0(012.5*kWh)");
    rows.AddRow("1.8.0(012.5*kWh)", true);
    rows.AddRow("--- 0x41 ---", false);
    rows.LogSentBytes(edge, 4);
    rows.LogSentBytes(signOn, 0);
    rows.CloseLog();
    EXPECT_EQ(LogBytes(), std::string("==> /?!<0D><0A>\r\n"
                                      "<== /ABC5\\2XYZ\r\n"
                                      "==> <06>050<0D><0A>\r\n"
                                      "<==  -- STX -- \r\n"
                                      "<== 1.8.0(012.5*kWh)\r\n"
                                      "<== --- 0x41 ---\r\n"
                                      "==> <13>\x14\x1F<00>\r\n"
                                      "==> \r\n"));
}

TEST_F(ResultLogTest, RowsCarryColumnsOnlyForDataLinesAndScrollIntoView)
{
    rows.ParseDataLine("0.9.1(103)");
    rows.AddRow(" -- STX -- ", false);
    rows.AddRow("0.9.1(103)", true);
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_FALSE(view.rows[0].hasColumns);
    EXPECT_EQ(view.rows[1].code, "0.9.1");
    EXPECT_EQ(view.rows[1].value, "103");
    EXPECT_EQ(view.lastVisible, 1);
    rows.ClearRows();
    EXPECT_TRUE(view.rows.empty());
    rows.AddRow("x", false);
    EXPECT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.lastVisible, 0) << "numbering restarts after ClearRows";
}

TEST_F(ResultLogTest, ReopenTruncatesAndClosedLogStillFillsTheList)
{
    rows.OpenLog();
    rows.AddRow("first readout", false);
    rows.OpenLog();
    rows.AddRow("second", false);
    rows.CloseLog();
    rows.AddRow("after Show log", false);
    EXPECT_EQ(LogBytes(), "<== second\r\n");
    EXPECT_EQ(view.rows.size(), 3u);
}

TEST_F(ResultLogTest, UnwritableLogStaysClosedAndLosesNoRow)
{
    ResultLog bad(view, dir.File("missing-folder/Log1107.txt"));
    bad.OpenLog();
    EXPECT_FALSE(bad.IsLogOpen());
    const std::uint8_t b[] = {'/'};
    bad.LogSentBytes(b, 1);
    bad.AddRow("still shown", false);
    EXPECT_EQ(view.RowTexts().back(), "still shown");
}

TEST_F(ResultLogTest, LogNameTakenByAFifoIsRefusedWithoutBlocking)
{
    ASSERT_EQ(::mkfifo(dir.File("Log1107.txt").c_str(), 0600), 0);
    rows.OpenLog(); // would block for ever waiting for a reader
    EXPECT_FALSE(rows.IsLogOpen());
}

TEST_F(ResultLogTest, SecondHolderOfTheLogCannotOpenIt)
{
    rows.OpenLog();
    rows.AddRow("kept", false);
    ResultLog other(view, dir.File("Log1107.txt"));
    other.OpenLog();
    EXPECT_FALSE(other.IsLogOpen());
    rows.CloseLog();
    EXPECT_EQ(LogBytes(), "<== kept\r\n") << "the failed open must not truncate the holder's log";
}

} // namespace
} // namespace varnel::test
