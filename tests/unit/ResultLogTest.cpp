#include "RecordingView.h"
#include "TempDir.h"

#include "readout/ResultLog.h"

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
    rows.AddRow(std::string(99, '-'), false); // an earlier readout, longer than this one
    const int stdinCopy = ::dup(0);
    ::close(0);     // as when started without stdin: the log opens on descriptor 0
    rows.OpenLog(); // and truncates what was there
    // 0x13 is below 20 decimal, 0x14 is not: the cut is decimal 20, not 0x20.
    const std::uint8_t sent[] = {'/', 0x13, 0x14, 0x1F, 0x00, 0x0A};
    rows.LogSentBytes(sent, 6);
    rows.AddRow("1.8.0(012.5*kWh)", true);
    rows.LogSentBytes(sent, 0);
    rows.AddRow("!", false);
    rows.CloseLog();
    ::dup2(stdinCopy, 0);
    ::close(stdinCopy);
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")),
              std::string("==> /<13>\x14\x1F<00><0A>\r\n<== 1.8.0(012.5*kWh)\r\n==> \r\n<== !\r\n"));
    EXPECT_EQ(view.lastVisible, 2);
    rows.ClearRows();
    rows.AddRow("x", false);
    EXPECT_EQ(view.lastVisible, 0) << "numbering restarts after ClearRows";
}

#ifndef _WIN32 // FIFOs and descriptor numbers are POSIX's
TEST_F(ResultLogTest, LogThatCannotBeOpenedStaysClosedLeaksNothingAndLosesNoRow)
{
    rows.OpenLog();
    rows.AddRow("kept", false);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    // No folder; a FIFO (would block for ever); a log another instance holds.
    for (const char* name : {"missing-folder/Log1107.txt", "fifo", "Log1107.txt"}) {
        const int nextFd = ::dup(2);
        ::close(nextFd);
        ResultLog other(view, dir.File(name));
        other.OpenLog();
        EXPECT_FALSE(other.IsLogOpen()) << name;
        EXPECT_EQ(::dup(2), nextFd) << name << ": a descriptor leaked";
        ::close(nextFd);
        other.LogSentBytes(reinterpret_cast<const std::uint8_t*>("/"), 1);
        other.AddRow(name, false);
        EXPECT_EQ(view.rows.at(0).text, name);
    }
    rows.CloseLog();
    EXPECT_EQ(ReadFileBytes(dir.File("Log1107.txt")), "<== kept\r\n") << "a failed open truncates nothing";
}
#endif

} // namespace
} // namespace varnel::test
