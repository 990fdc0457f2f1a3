#include "settings/ProfileFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace varnel {
namespace {

class ProfileFileTest : public testing::Test {
protected:
    test::TempDir m_dir;
    fs::path m_file = m_dir.Path() / "Varnel.ini";
};

// Every blank the profile functions know (Ctrl-Z too) stands around [VARNEL] and its PortCOM
// line. No comment or bare name is a key; the first key and section of a name count.
TEST_F(ProfileFileTest, ReadsNamesAndValuesAsTheProfileFunctionsDo)
{
    std::ofstream(m_file, std::ios::binary)
        << "; PortCOM=9\r\n[Other]\r\nPortCOM=8\r\n;PosX=5\r\nPosX\r\n"
           " \t\v\f\x1a[VARNEL] \t\v\f\x1a; ours\r\n \t\v\f\x1aportcom \t\v\f\x1a=\r \t\v\f\x1a"
           "3 \t\v\f\x1a\r\r\n"
           "PosY=1\r\nposy=2\r\nHex=0xaF\r\nBin=0b102\r\nQuoted=\"-40\"\r\nCtl=\x01 12abc\x1f\r\nEmpty=\r\n"
           "[Varnel]\r\nPosDX=77\r\n"s;
    const struct {
        const char *key, *text;
        int number;
        const char* section = "Varnel";
    } cases[] = {{"PortCOM", "3", 3},    {"PosX", "none", 7, "other"},  {"PosY", "1", 1},
                 {"PosDX", "none", 7},   {"Hex", "0xaF", 175},          {"Bin", "0b102", 2},
                 {"Quoted", "-40", -40}, {"Ctl", "\x01 12abc\x1f", 12}, {"Empty", "", 7}};
    const ProfileFile file(m_file);
    for (const auto& c : cases) {
        EXPECT_EQ(file.GetString(c.section, c.key, "none"), c.text) << c.key;
        EXPECT_EQ(file.GetInt(c.section, c.key, 7), c.number) << c.key;
    }
}

// A write replaces the value in place or adds its line at the end of the section (of the
// file), in the file's line breaks; a text that would break the line structure is refused.
TEST_F(ProfileFileTest, WriteChangesOnlyItsOwnLine)
{
    const std::string ours = "[Varnel]\nPortCOM=1\n";
    const struct {
        std::string before, key, value, after;
    } cases[] = {
        {"; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = 5  \r\nPosY=6\r\n", "PosX", "-12",
         "; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = -12\r\nPosY=6\r\n"},
        {ours + "\n[Ports]\nCOM33=/dev/x\n", "PosX", "250", ours + "PosX=250\n\n[Ports]\nCOM33=/dev/x\n"},
        {"[Ports]\r\nCOM1=/dev/a", "PortCOM", "2", "[Ports]\r\nCOM1=/dev/a\r\n[Varnel]\r\nPortCOM=2\r\n"},
        {"\xEF\xBB\xBF" + ours, "PortCOM", "2", "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"},
        {ours, "Port=COM", "1", ours}};
    for (const auto& c : cases) {
        std::ofstream(m_file, std::ios::binary) << c.before;
        EXPECT_EQ(ProfileFile(m_file).WriteString("Varnel", c.key, c.value), c.after != c.before);
        EXPECT_EQ(test::ReadFileBytes(m_file), c.after); // as the destructor flushed it
    }
    EXPECT_FALSE(ProfileFile(m_file).WriteString("Var]nel", "PortCOM", "1"));
}

#ifndef _WIN32 // /proc is Linux's
// Places that cannot hold the file (none relies on permissions: root writes anywhere), and
// /proc/self/mem: a regular file whose every read fails, as on a failing disk.
TEST_F(ProfileFileTest, ObstaclesFailQuietlyAndKeepWhatIsThere)
{
    const fs::path& dir = m_dir.Path();
    std::ofstream(dir / "plain") << "x";
    fs::create_directories(dir / "folder.ini" / "inside");
    for (const auto& path : {dir / "plain" / "Varnel.ini", dir / "folder.ini", fs::path("/proc/self/mem")}) {
        const auto write = [&] {
            ProfileFile p(path);
            return p.WriteString("Varnel", "PortCOM", "2") && p.Flush();
        };
        EXPECT_FALSE(write()) << path; // and the destructor's second attempt stays quiet
        EXPECT_EQ(ProfileFile(path).GetInt("Varnel", "PortCOM", 4), 4) << path;
    }
}
#endif

} // namespace
} // namespace varnel
