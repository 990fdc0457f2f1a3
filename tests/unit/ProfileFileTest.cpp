#include "settings/ProfileFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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
        "Quoted=\"-40\"\r\nHalf='7\r\nCtl=\x01 12abc\x1f\r\nEmpty=\r\nNul=\0 9\r\n[Ports\r\nLate=4\r\n[Varnel]\r\nPosDX=77\r\n"s);
    // Neither a comment nor a bare name is a key; the first key and section of a name count;
    // a header needs its ']'.
    const struct { const char *section, *key, *text; int number; } cases[] = {
        {"Varnel", "PortCOM", "3", 3}, {"\n varnel\t", "\fPORTCOM\v", "3", 3}, {"other", "portcom", "8", 8},
        {"Varnel", "PosX", "none", 7}, {"Varnel", "PosY", "1", 1}, {"Varnel", "PosDX", "none", 7},
        {"Varnel", "Outside", "none", 7}, {"Ports", "Late", "none", 7}, {"Varnel", "Late", "4", 4},
        {"Varnel", "Hex", "0xaF", 175}, {"Varnel", "Oct", "0o17", 15}, {"Varnel", "UpperX", "0X1A", 0},
        {"Varnel", "Bin", "0b102", 2}, {"Varnel", "Sign", "+5", 5}, {"Varnel", "Spaced", "- 3", 0},
        {"Varnel", "Wrap", "4294967295", -1}, {"Varnel", "Quoted", "-40", -40}, {"Varnel", "Half", "'7", 0},
        {"Varnel", "Ctl", "\x01 12abc\x1f", 12}, {"Varnel", "Empty", "", 7}, {"Varnel", "Nul", "", 7}};
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
    const std::string corrupt = "\x00\xff\xfe[Var\x00nel]\x01=\x02\n[Varnel]\njunk"s + std::string(200000, 'x')
        + "\nPosX=250\nPosY=\x00\x00\n[Ports\nPosDX=640\n\x1a\x1a\x1a"s;
    const struct { std::string before, key, value, after; } cases[] = {
        {"; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = 5  \r\nPosY=6\r\n", "PosX", "-12",
         "; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = -12\r\nPosY=6\r\n"},
        {corrupt, "PosX", "-12", std::string(corrupt).replace(corrupt.find("PosX=250"), 8, "PosX=-12")},
        {ours + "\n[Ports]\nCOM33=/dev/x\n", "PosX", "250", ours + "PosX=250\n\n[Ports]\nCOM33=/dev/x\n"},
        {"[Ports]\r\nCOM1=/dev/a", "PortCOM", "2", "[Ports]\r\nCOM1=/dev/a\r\n[Varnel]\r\nPortCOM=2\r\n"},
        {"\xEF\xBB\xBF" + ours, "PortCOM", "2", "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"},
        {"\xEF\xBB\xBF", "PortCOM", "2", "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"},
        {ours, "PortCOM", "1\n[Evil]", ours}, {ours, "PortCOM", "1\0002"s, ours}, {ours, "Port=COM", "1", ours},
        {ours, "[Port", "1", ours}, {ours, ";Port", "1", ours}, {ours, " ", "1", ours}};
    for (const auto& c : cases) {
        Put(c.before);
        ProfileFile file(m_file);
        EXPECT_EQ(file.WriteString("Varnel", c.key, c.value), c.after != c.before) << c.key << c.value;
        ASSERT_TRUE(file.Flush());
        EXPECT_EQ(Bytes(), c.after);
    }
    EXPECT_FALSE(ProfileFile(m_file).WriteString("Var]nel", "PortCOM", "1"));
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
        auto profile = std::make_unique<ProfileFile>(path);
        EXPECT_EQ(profile->GetInt("Varnel", "PortCOM", 4), 4);
        EXPECT_FALSE(profile->WriteString("Varnel", "PortCOM", "2") && profile->Flush()) << path;
        profile.reset(); // the destructor's second attempt stays quiet too
        EXPECT_EQ(ProfileFile(path).GetInt("Varnel", "PortCOM", 4), 4) << path;
    }
}

} // namespace
} // namespace varnel
