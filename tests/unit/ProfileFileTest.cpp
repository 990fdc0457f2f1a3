#include "settings/ProfileFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace varnel {
namespace {

class ProfileFileTest : public testing::Test {
protected:
    void Put(const std::string& bytes) const { std::ofstream(m_file, std::ios::binary) << bytes; }
    std::string Bytes() const { return test::ReadFileBytes(m_file.string()); }

    test::TempDir m_dir;
    fs::path m_file = m_dir.Path() / "Varnel.ini";
};

// Every blank the profile functions know (Ctrl-Z too) stands around the [VARNEL] header
// and around the name and the value of its PortCOM line.
TEST_F(ProfileFileTest, ReadsNamesAndValuesAsTheProfileFunctionsDo)
{
    Put("; PortCOM=9\r\nOutside=1\r\n[Other]\r\nPortCOM=8\r\n \t\v\f\x1a[VARNEL] \t\v\f\x1a; ours\r\n"
        " \t\v\f\x1aportcom \t\v\f\x1a=\r \t\v\f\x1a" "3 \t\v\f\x1a\r\r\n;PosX=5\r\nPosX\r\nPosY=1\r\nposy=2\r\n"
        "Hex=0xaF\r\nOct=0o17\r\nUpperX=0X1A\r\nBin=0b102\r\nSign=+5\r\nSpaced=- 3\r\nWrap=4294967295\r\n"
        "Quoted=\"-40\"\r\nHalf='7\r\nCtl=\x01 12abc\x1f\r\nEmpty=\r\nNul=\0 9\r\n[Varnel]\r\nPosDX=77\r\n"s);
    const struct { const char *section, *key, *text; int number; } cases[] = {
        {"Varnel", "PortCOM", "3", 3}, {"\n varnel\t", "\fPORTCOM\v", "3", 3}, {"other", "portcom", "8", 8},
        {"Varnel", "PosX", "none", 7},    // a comment and a bare name are no keys
        {"Varnel", "PosY", "1", 1},       // the first key of a name counts
        {"Varnel", "PosDX", "none", 7},   // and the first section
        {"Varnel", "Outside", "none", 7}, {"Ports", "PortCOM", "none", 7}, {"Varnel", "Hex", "0xaF", 175},
        {"Varnel", "Oct", "0o17", 15}, {"Varnel", "UpperX", "0X1A", 0}, {"Varnel", "Bin", "0b102", 2},
        {"Varnel", "Sign", "+5", 5}, {"Varnel", "Spaced", "- 3", 0}, {"Varnel", "Wrap", "4294967295", -1},
        {"Varnel", "Quoted", "-40", -40}, {"Varnel", "Half", "'7", 0}, {"Varnel", "Ctl", "\x01 12abc\x1f", 12},
        {"Varnel", "Empty", "", 7}, {"Varnel", "Nul", "", 7}};
    const ProfileFile file(m_file);
    for (const auto& c : cases) {
        EXPECT_EQ(file.GetString(c.section, c.key, "none"), c.text) << c.key;
        EXPECT_EQ(file.GetInt(c.section, c.key, 7), c.number) << c.key;
    }
}

TEST_F(ProfileFileTest, CorruptFileReadsWhatItCanAndKeepsEveryOtherByteOnWrite)
{
    const std::string corrupt = "\x00\xff\xfe[Var\x00nel]\x01=\x02\n[Varnel]\njunk"s + std::string(200000, 'x')
        + "\nPosX=250\nPosY=\x00\x00\n[Ports\nPosDX=640\n\x1a\x1a\x1a"s;
    Put(corrupt);
    ProfileFile file(m_file);
    EXPECT_EQ(file.GetInt("Varnel", "PosY", 100), 100);
    EXPECT_EQ(file.GetInt("Varnel", "PosDX", 300), 640); // "[Ports" lacks its bracket: no header
    ASSERT_TRUE(file.WriteString("Varnel", "PosX", "-12") && file.Flush());
    EXPECT_EQ(Bytes(), std::string(corrupt).replace(corrupt.find("PosX=250"), 8, "PosX=-12"));
}

TEST_F(ProfileFileTest, WriteChangesOnlyItsOwnLine)
{
    const struct { std::string before; const char *key, *value; std::string after; } cases[] = {
        {"; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = 5  \r\nPosY=6\r\n", "PosX", "-12",
         "; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = -12\r\nPosY=6\r\n"},
        // at the end of its section, before the blank lines
        {"[Varnel]\nPortCOM=1\n\n[Ports]\nCOM33=/dev/ttyV0\n", "PosX", "250",
         "[Varnel]\nPortCOM=1\nPosX=250\n\n[Ports]\nCOM33=/dev/ttyV0\n"},
        // a new section at the end, in the file's line breaks
        {"[Ports]\nCOM33=/dev/x", "PortCOM", "2", "[Ports]\nCOM33=/dev/x\n[Varnel]\nPortCOM=2\n"},
        {"[Ports]\r\nCOM1=/dev/a\r\n", "PortCOM", "2", "[Ports]\r\nCOM1=/dev/a\r\n[Varnel]\r\nPortCOM=2\r\n"},
        {"\xEF\xBB\xBF[Varnel]\nPortCOM=1\n", "PortCOM", "2", "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"},
        {"\xEF\xBB\xBF", "PortCOM", "2", "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"}};
    for (const auto& c : cases) {
        Put(c.before);
        ProfileFile file(m_file);
        ASSERT_TRUE(file.WriteString("Varnel", c.key, c.value) && file.Flush()) << c.before;
        EXPECT_EQ(Bytes(), c.after);
        EXPECT_EQ(ProfileFile(m_file).GetString("Varnel", c.key), c.value);
    }
}

TEST_F(ProfileFileTest, RefusesTextsThatWouldBreakTheLineStructure)
{
    Put("[Varnel]\nPortCOM=1\n");
    ProfileFile file(m_file);
    for (const auto& [section, key, value] : std::vector<std::array<std::string, 3>>{
             {"Varnel", "PortCOM", "1\n[Evil]"}, {"Varnel", "PortCOM", "1\0002"s}, {"Varnel", "Port=COM", "1"},
             {"Varnel", "[Port", "1"}, {"Varnel", ";Port", "1"}, {"Varnel", " ", "1"}, {"Var]nel", "PortCOM", "1"}})
        EXPECT_FALSE(file.WriteString(section, key, value)) << section << key << value;
    ASSERT_TRUE(file.Flush());
    EXPECT_EQ(Bytes(), "[Varnel]\nPortCOM=1\n");
}

// Places that cannot hold the file: quiet, no hang, nothing overwritten. Root writes
// anywhere, so none relies on permissions.
TEST_F(ProfileFileTest, ObstaclesFailQuietlyAndKeepWhatIsThere)
{
    const fs::path& dir = m_dir.Path();
    std::ofstream(dir / "plain") << "x";
    fs::create_directories(dir / "folder.ini" / "inside");
    ASSERT_EQ(mkfifo((dir / "pipe.ini").c_str(), 0600), 0);
    std::ofstream(dir / "large.ini") << "[Varnel]\n" << std::string(2 << 20, ';') << "\n"; // too large to be ours
    for (const auto& path : {dir / "plain" / "Varnel.ini", dir / "folder.ini", dir / "pipe.ini", dir / "large.ini"}) {
        {
            ProfileFile profile(path);
            EXPECT_EQ(profile.GetInt("Varnel", "PortCOM", 4), 4);
            EXPECT_FALSE(profile.WriteString("Varnel", "PortCOM", "2") && profile.Flush()) << path;
        } // the destructor's second attempt stays quiet too
        EXPECT_EQ(ProfileFile(path).GetInt("Varnel", "PortCOM", 4), 4) << path;
    }
}

} // namespace
} // namespace varnel
