#include "settings/Settings.h"

#include "serial/PortNames.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
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

// The file goes one folder deeper than the test's own, so writing has to create it.
class SettingsTest : public testing::Test {
protected:
    void Put(const std::string& text) const
    {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file, std::ios::binary) << text;
    }
    std::string Text() const { return test::ReadFileBytes(m_file.string()); }

    test::TempDir m_dir;
    fs::path m_file = m_dir.Path() / "Varnel" / "Varnel.ini";
};

TEST_F(SettingsTest, FirstRunWritesHeaderThenKeysInOrderAndNextRunReadsThem)
{
    EXPECT_EQ(LoadSettings(m_file), (Settings{0, 100, 100, 300, 300}));
    SaveSettings(2, ScreenRect{-12, 40, 640, 380}, m_file);
    EXPECT_EQ(Text(), "[Varnel]\nPortCOM=2\nPosX=-12\nPosY=40\nPosDX=640\nPosDY=380\n");
    EXPECT_EQ(LoadSettings(m_file), (Settings{2, -12, 40, 640, 380}));
}

TEST_F(SettingsTest, MissingKeysTakeFirstRunValuesAndSizesAreTakenUnchecked)
{
    Put("[varnel]\nposy=-12\nPORTCOM=256\nPosDY=50\n");
    EXPECT_EQ(LoadSettings(m_file), (Settings{256, 100, -12, 300, 50}));
}

TEST_F(SettingsTest, UnreadablePlacementKeepsStoredPositionAndForeignContent)
{
    Put("[Ports]\nCOM33=/dev/ttyV0\n\n[Varnel]\nPosX=250\nPortCOM=0\nPosY=-5\n; note\n");
    SaveSettings(255, std::nullopt, m_file);
    EXPECT_EQ(Text(), "[Ports]\nCOM33=/dev/ttyV0\n\n[Varnel]\nPosX=250\nPortCOM=255\nPosY=-5\n; note\n");
}

TEST(SettingsPath, FollowsXdgRule)
{
    EXPECT_EQ(SettingsFilePathFor("/x/cfg", "/home/u"), fs::path("/x/cfg/Varnel/Varnel.ini"));
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "cfg"})
        EXPECT_EQ(SettingsFilePathFor(unusable, "/home/u"), fs::path("/home/u/.config/Varnel/Varnel.ini"))
            << (unusable ? unusable : "unset");
    EXPECT_EQ(SettingsFilePathFor(nullptr, nullptr), fs::path("Varnel.ini"));
}

TEST_F(SettingsTest, PortsSectionMapsWellFormedComNamesOnly)
{
    Put("[Varnel]\nCOM5=/dev/notports\n[Ports]\nCOM33=/dev/serial/by-id/usb-probe\n  com7 = /dev/ttyV7\n"
        "Com7=/dev/second\nCOM07=/dev/third\nCOM8=relative/path\nCOM9=\nCOMX=/dev/ttyS1\nCOM0=/dev/ttyS0\n"
        "COM-3=/dev/ttyS2\nLPT1=/dev/lp0\n");
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
