#include "settings/Settings.h"

#include "serial/PortNames.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>

namespace fs = std::filesystem;

namespace varnel {

void PrintTo(const Settings& s, std::ostream* os)
{
    *os << '{' << s.portIndex << ", " << s.posX << ", " << s.posY << ", " << s.posDX << ", " << s.posDY << '}';
}

namespace {

// Each test gets a folder of its own; the settings file goes one folder deeper so
// that writing has to create it.
class SettingsTest : public testing::Test {
protected:
    SettingsTest()
        : m_dir(fs::temp_directory_path()
                / ("varnel-settings-" + std::to_string(getpid()) + "-"
                   + testing::UnitTest::GetInstance()->current_test_info()->name()))
        , m_file(m_dir / "Varnel" / "Varnel.ini")
    {
        fs::remove_all(m_dir);
    }
    ~SettingsTest() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    void Put(const std::string& text) const
    {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file, std::ios::binary) << text;
    }
    std::string Text() const
    {
        std::ifstream in(m_file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path m_dir;
    fs::path m_file;
};

TEST_F(SettingsTest, FirstRunWritesHeaderThenKeysInOrderAndNextRunReadsThem)
{
    SaveSettings(2, ScreenRect{-12, 40, 640, 380}, m_file);
    EXPECT_EQ(Text(), "[Varnel]\nPortCOM=2\nPosX=-12\nPosY=40\nPosDX=640\nPosDY=380\n");

    EXPECT_EQ(LoadSettings(m_file), (Settings{2, -12, 40, 640, 380}));
}

TEST_F(SettingsTest, UnreadablePlacementKeepsStoredPositionAndForeignContent)
{
    const std::string before = "[Ports]\nCOM33=/dev/ttyV0\n\n[Varnel]\nPosX=250\nPortCOM=0\nPosY=-5\n; note\n";
    Put(before);
    SaveSettings(255, std::nullopt, m_file);
    EXPECT_EQ(Text(), "[Ports]\nCOM33=/dev/ttyV0\n\n[Varnel]\nPosX=250\nPortCOM=255\nPosY=-5\n; note\n");
}

struct LoadCase {
    const char* name;
    const char* text; // null: no file at all
    Settings expected;
};

class SettingsLoadTest : public SettingsTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoadTest, MissingKeysTakeFirstRunValues)
{
    if (GetParam().text != nullptr)
        Put(GetParam().text);
    EXPECT_EQ(LoadSettings(m_file), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsLoadTest, testing::Values(
    // A first run starts with COM1 at (100, 100).
    LoadCase{"NoFile", nullptr, Settings{0, 100, 100, 300, 300}},
    LoadCase{"SomeKeys", "[varnel]\nposy=-12\nPORTCOM=256\n", Settings{256, 100, -12, 300, 300}},
    LoadCase{"KeysOfOtherSection", "[Ports]\nPortCOM=3\n", Settings{0, 100, 100, 300, 300}},
    LoadCase{"SizeKeysTakenUnchecked", "[Varnel]\nPosDX=1000\nPosDY=50\n", Settings{0, 100, 100, 1000, 50}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PathCase {
    const char* name;
    const char* xdgConfigHome;
    const char* home;
    const char* expected;
};

class SettingsPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(SettingsPathTest, FollowsXdgRule)
{
    EXPECT_EQ(SettingsFilePathFor(GetParam().xdgConfigHome, GetParam().home), fs::path(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Environments, SettingsPathTest, testing::Values(
    PathCase{"XdgConfigHome", "/x/cfg", "/home/u", "/x/cfg/Varnel/Varnel.ini"},
    PathCase{"HomeWhenXdgUnset", nullptr, "/home/u", "/home/u/.config/Varnel/Varnel.ini"},
    PathCase{"HomeWhenXdgEmpty", "", "/home/u", "/home/u/.config/Varnel/Varnel.ini"},
    PathCase{"HomeWhenXdgRelative", "cfg", "/home/u", "/home/u/.config/Varnel/Varnel.ini"},
    PathCase{"CurrentFolderLast", nullptr, nullptr, "Varnel.ini"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, PortsSectionMapsWellFormedComNamesOnly)
{
    Put("[Varnel]\nCOM5=/dev/notports\n"
        "[Ports]\n"
        "COM33=/dev/serial/by-id/usb-probe\n"
        "  com7 = /dev/ttyV7\n"
        "Com7=/dev/second\n"
        "COM07=/dev/third\n"
        "COM8=relative/path\n"
        "COM9=\n"
        "COMX=/dev/ttyS1\n"
        "COM0=/dev/ttyS0\n"
        "COM-3=/dev/ttyS2\n"
        "LPT1=/dev/lp0\n");
    PortNames names;
    LoadPortMappings(names, m_file);
    const std::map<int, std::string> expected{{7, "/dev/ttyV7"}, {33, "/dev/serial/by-id/usb-probe"}};
    EXPECT_EQ(names.Mappings(), expected);
}

struct PlacementCase {
    const char* name;
    ScreenPoint saved;
    std::vector<ScreenRect> screens;
    ScreenPoint expected;
};

class StartPositionTest : public testing::TestWithParam<PlacementCase> {};

TEST_P(StartPositionTest, OpensWhereSavedUnlessNoScreenWouldShowIt)
{
    EXPECT_EQ(StartPosition(GetParam().saved, 640, 380, GetParam().screens), GetParam().expected);
}

const ScreenRect kLeft{0, 0, 1920, 1040};
const ScreenRect kRight{1920, 0, 1280, 1024};

INSTANTIATE_TEST_SUITE_P(Screens, StartPositionTest, testing::Values(
    PlacementCase{"OnScreen", {250, 40}, {kLeft}, {250, 40}},
    PlacementCase{"PartlyOffLeftAndTop", {-12, -5}, {kLeft}, {-12, -5}},
    PlacementCase{"OnSecondScreen", {2500, 100}, {kLeft, kRight}, {2500, 100}},
    PlacementCase{"SecondScreenUnplugged", {2500, 100}, {kLeft}, {100, 100}},
    PlacementCase{"OnePixelOverlapKept", {-639, 1039}, {kLeft}, {-639, 1039}},
    PlacementCase{"TouchingEdgeOnly", {1920, 0}, {kLeft}, {100, 100}},
    PlacementCase{"FarOffWithoutOverflow", {INT_MAX, INT_MAX}, {kLeft}, {100, 100}},
    PlacementCase{"FarNegative", {INT_MIN, INT_MIN}, {kLeft}, {100, 100}},
    PlacementCase{"NoScreensKnown", {5000, 5000}, {}, {5000, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace varnel
