#include "settings/ProfileFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

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

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

// ---- integers read the way GetPrivateProfileInt reads them ----

struct IntCase {
    const char* name;
    std::string value;
    int expected;
};

class ProfileIntTest : public ProfileFileTest, public testing::WithParamInterface<IntCase> {};

TEST_P(ProfileIntTest, ReadsValueLikeProfileInt)
{
    Put("[Varnel]\nKey=" + GetParam().value + "\n");
    EXPECT_EQ(ProfileFile(m_file).GetInt("Varnel", "Key", 7), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileIntTest, testing::Values(
    IntCase{"Negative", "-12", -12}, IntCase{"PlusSign", "+5", 5}, IntCase{"NotANumber", "abc", 0},
    IntCase{"DigitsThenText", "12abc", 12}, IntCase{"SignThenBlank", "- 3", 0},
    IntCase{"HexPrefix", "0x1A", 26}, IntCase{"UpperXIsNoPrefix", "0X1A", 0},
    IntCase{"BinaryPrefix", "0b101", 5}, IntCase{"Quoted", "\"40\"", 40},
    IntCase{"WrapsModulo2To32", "4294967295", -1}, IntCase{"EmptyGivesDefault", "", 7},
    IntCase{"NulGivesDefault", "\0\0 9"s, 7}, IntCase{"StopsAtNul", "3\0" "4"s, 3}),
    CaseName<IntCase>);

// ---- which line a name finds ----

struct LookupCase {
    const char* name;
    const char* section;
    const char* key;
    const char* expected;
};

class ProfileLookupTest : public ProfileFileTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(ProfileLookupTest, FindsKeyAsProfileFunctionsDo)
{
    Put("; PortCOM=9\r\nOutside=1\r\n[Other]\r\nPortCOM=8\r\n[VARNEL] ; ours\r\n  portcom   =   3  \r\n"
        ";PosX=5\r\nPosX\r\nPosY=1\r\nposy=2\r\n[Varnel]\r\nPosDX=77\r\n");
    EXPECT_EQ(ProfileFile(m_file).GetString(GetParam().section, GetParam().key, "default"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, ProfileLookupTest, testing::Values(
    LookupCase{"NamesIgnoreCaseAndBlanks", "Varnel", "PortCOM", "3"},
    LookupCase{"ArgumentsTrimmed", " varnel ", " PORTCOM ", "3"},
    LookupCase{"OtherSectionSeparate", "other", "portcom", "8"},
    LookupCase{"CommentAndBareNameAreNoKeys", "Varnel", "PosX", "default"},
    LookupCase{"FirstOfDuplicateKeys", "Varnel", "PosY", "1"},
    LookupCase{"SecondSectionOfSameNameUnseen", "Varnel", "PosDX", "default"},
    LookupCase{"KeysBeforeAnySectionInNone", "Varnel", "Outside", "default"},
    LookupCase{"MissingSection", "Ports", "PortCOM", "default"}),
    CaseName<LookupCase>);

TEST_F(ProfileFileTest, CorruptFileGivesDefaultsWhereUnreadableAndReadsTheRest)
{
    const std::string corrupt = "\x00\xff\xfe[Var\x00nel]\x01=\x02\n[Varnel]\njunk"s + std::string(200000, 'x')
        + "\nPosX=250\nPosY=\x00\x00\n[Ports\nPosDX=640\n\x1a\x1a\x1a"s;
    Put(corrupt);
    ProfileFile file(m_file);
    EXPECT_EQ(file.GetInt("Varnel", "PosX", 100), 250);
    EXPECT_EQ(file.GetInt("Varnel", "PosY", 100), 100);
    EXPECT_EQ(file.GetInt("Varnel", "PosDX", 300), 640); // "[Ports" lacks its bracket: no header
    EXPECT_EQ(file.GetInt("Ports", "PosDX", 300), 300);

    ASSERT_TRUE(file.WriteString("Varnel", "PosX", "-12"));
    ASSERT_TRUE(file.Flush());
    std::string expected = corrupt;
    expected.replace(expected.find("PosX=250"), 8, "PosX=-12");
    EXPECT_EQ(Bytes(), expected);
}

// ---- writes touch only their own line ----

struct WriteCase {
    const char* name;
    std::string before;
    const char* key;
    const char* value;
    std::string after;
};

class ProfileWriteTest : public ProfileFileTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(ProfileWriteTest, KeepsEveryOtherByte)
{
    Put(GetParam().before);
    {
        ProfileFile file(m_file);
        ASSERT_TRUE(file.WriteString("Varnel", GetParam().key, GetParam().value));
        ASSERT_TRUE(file.Flush());
    }
    EXPECT_EQ(Bytes(), GetParam().after);
    EXPECT_EQ(ProfileFile(m_file).GetString("Varnel", GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Edits, ProfileWriteTest, testing::Values(
    WriteCase{"ReplacesInPlaceKeepingSpellingAndBlanks",
        "; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = 5  \r\nPosY=6\r\n", "PosX", "-12",
        "; mine\r\n[other]\r\nPosX=1\r\n\r\n[VARNEL]\r\n  posx = -12\r\nPosY=6\r\n"},
    WriteCase{"AppendsAtEndOfSectionBeforeBlankLines", "[Varnel]\nPortCOM=1\n\n[Ports]\nCOM33=/dev/ttyV0\n",
        "PosX", "250", "[Varnel]\nPortCOM=1\nPosX=250\n\n[Ports]\nCOM33=/dev/ttyV0\n"},
    WriteCase{"AppendsSectionAfterLastLineWithoutBreak", "[Ports]\nCOM33=/dev/x", "PortCOM", "2",
        "[Ports]\nCOM33=/dev/x\n[Varnel]\nPortCOM=2\n"},
    WriteCase{"FollowsTheFilesLineBreaks", "[Ports]\r\nCOM1=/dev/a\r\n", "PortCOM", "2",
        "[Ports]\r\nCOM1=/dev/a\r\n[Varnel]\r\nPortCOM=2\r\n"},
    WriteCase{"HeaderWithoutBracketIsNoSection", "[Varnel\nPortCOM=1\n", "PortCOM", "2",
        "[Varnel\nPortCOM=1\n[Varnel]\nPortCOM=2\n"},
    WriteCase{"KeepsByteOrderMark", "\xEF\xBB\xBF[Varnel]\nPortCOM=1\n", "PortCOM", "2",
        "\xEF\xBB\xBF[Varnel]\nPortCOM=2\n"}),
    CaseName<WriteCase>);

TEST_F(ProfileFileTest, RefusesTextsThatWouldBreakTheLineStructure)
{
    const std::string before = "[Varnel]\nPortCOM=1\n";
    Put(before);
    {
        ProfileFile file(m_file);
        EXPECT_FALSE(file.WriteString("Varnel", "PortCOM", "1\n[Evil]"));
        EXPECT_FALSE(file.WriteString("Varnel", "Port=COM", "1"));
        EXPECT_FALSE(file.WriteString("Var]nel", "PortCOM", "1"));
        EXPECT_FALSE(file.WriteString("Varnel", " ", "1"));
        EXPECT_FALSE(file.WriteString("Varnel", "PortCOM", "1\0002"s));
    }
    EXPECT_EQ(Bytes(), before);
}

// ---- places that cannot hold the file: quiet, no crash, no hang ----

struct ObstacleCase {
    const char* name;
    std::function<fs::path(const fs::path& dir)> prepare; // returns the file to use
};

class ProfileObstacleTest : public ProfileFileTest, public testing::WithParamInterface<ObstacleCase> {};

TEST_P(ProfileObstacleTest, WriteFailsQuietlyAndLeavesWhatIsThere)
{
    const fs::path file = GetParam().prepare(m_dir.Path());
    {
        ProfileFile profile(file);
        EXPECT_EQ(profile.GetInt("Varnel", "PortCOM", 4), 4);
        const bool accepted = profile.WriteString("Varnel", "PortCOM", "2");
        EXPECT_FALSE(accepted && profile.Flush());
    } // the destructor's second attempt stays quiet too
    EXPECT_EQ(ProfileFile(file).GetInt("Varnel", "PortCOM", 4), 4);
}

// Root may write anywhere, so these obstacles do not rely on permissions.
INSTANTIATE_TEST_SUITE_P(Obstacles, ProfileObstacleTest, testing::Values(
    ObstacleCase{"FolderCannotBeCreated", [](const fs::path& dir) {
        std::ofstream(dir / "plainfile") << "x";
        return dir / "plainfile" / "Varnel" / "Varnel.ini";
    }},
    ObstacleCase{"FileIsAFolder", [](const fs::path& dir) {
        fs::create_directories(dir / "Varnel.ini" / "inside");
        return dir / "Varnel.ini";
    }},
    ObstacleCase{"FileIsAPipe", [](const fs::path& dir) {
        EXPECT_EQ(mkfifo((dir / "Varnel.ini").c_str(), 0600), 0);
        return dir / "Varnel.ini";
    }},
    // Too large to be a settings file: not loaded, so not overwritten with a stub.
    ObstacleCase{"FileTooLarge", [](const fs::path& dir) {
        std::ofstream(dir / "Varnel.ini") << "[Varnel]\n" << std::string(2 << 20, ';') << "\n";
        return dir / "Varnel.ini";
    }}),
    CaseName<ObstacleCase>);

} // namespace
} // namespace varnel
