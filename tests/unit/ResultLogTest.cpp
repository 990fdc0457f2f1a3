#include "RecordingView.h"
#include "TempDir.h"

#include "readout/ResultLog.h"
#include "readout/RowText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace varnel::test {
namespace {

class ResultLogTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingView view;
    ResultLog rows{view, dir.File("Log1107.txt")};
};

TEST_F(ResultLogTest, TraceLogRecordsSentBytesAndRowsWithCrLf)
{
    rows.OpenLog();
    // 0x13 is below 20 decimal, 0x14 is not: the cut is decimal 20, not 0x20.
    const std::uint8_t sent[] = {'/', 0x13, 0x14, 0x1F, 0x00, 0x0A};
    rows.LogSentBytes(sent, 6);
    rows.AddRow("1.8.0(012.5*kWh)", true);
    rows.AddRow("a\r\nb", false); // a line overflowed outside the block: still one record
    rows.CloseLog();
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")),
              std::string("==> /<13>\x14\x1F<00><0A>\r\n<== 1.8.0(012.5*kWh)\r\n<== a\r<0A>b\r\n"));
    EXPECT_EQ(view.lastVisible, 1);
}

#ifndef _WIN32 // FIFOs and descriptor numbers are POSIX's
TEST_F(ResultLogTest, LogThatCannotBeOpenedStaysClosedLeaksNothingAndLosesNoRow)
{
    rows.OpenLog();
    rows.AddRow("kept", false);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/full", dir.File("full").c_str()), 0);
    // A FIFO (would block for ever); a log another instance holds; a full disk, noticed at the first record,
    // which lets the file go. The window's "Show log" tells why.
    for (const auto& [name, reason] :
         {std::pair<std::string, std::string>{"fifo", "it is not a regular file"},
          {"Log1107.txt", "it is in use by PID " + std::to_string(::getpid()) + " (ResultLogTest)"},
          {"full", "No space left on device"}}) {
        const int nextFd = ::dup(2);
        ::close(nextFd);
        ResultLog other(view, dir.File(name));
        other.OpenLog();
        other.LogSentBytes(reinterpret_cast<const std::uint8_t*>("/"), 1);
        EXPECT_EQ(::dup(2), nextFd) << name << ": a descriptor leaked";
        ::close(nextFd);
        other.AddRow(name, false);
        EXPECT_EQ(view.rows.at(0).text, name);
        EXPECT_EQ(other.LogError(), reason);
        EXPECT_EQ(view.toolTips[IDC_SHOW_LOG],
                  "The trace log " + dir.File(name) + " was not written: " + reason);
    }
    rows.CloseLog();
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")), "<== kept\r\n") << "a failed open truncates nothing";
}
#endif

// What varnel-read's JSON and CSV add to a data row: "value|unit|number", "-" for none.
TEST_F(ResultLogTest, AValueKeepsItsUnitANumberEveryDigitAndCsvItsQuotes)
{
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {{"1-0:16.7.0(+00026*W)", "+00026|W|26"},
                 {"1.8.0(-0,50*kWh)(x*y)", "-0,50|kWh|-0.50"},
                 {"1.8.0(013925.5*)", "013925.5||13925.5"},
                 {"0-0:1.0.0(190816125118S)", "190816125118S|-|-"},
                 {"0.0(        18438636)", "        18438636|-|-"},
                 {"1.8.0(12.*kWh", "12.|-|-"},
                 {"(1*kWh)", "|-|-"}};
    for (const auto& c : cases) {
        rows.ParseDataLine(c.line);
        EXPECT_EQ(rows.m_value + '|' + DataLineUnit(c.line).value_or("-") + '|'
                      + DecimalNumber(rows.m_value).value_or("-"),
                  c.expected);
    }
    EXPECT_EQ(CsvRecord("1(2,\"*kWh)", "1", "2,\""), "\"1(2,\"\"*kWh)\",1,\"2,\"\"\",kWh\r\n");
}

} // namespace
} // namespace varnel::test
