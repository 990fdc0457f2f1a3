#include "settings/Settings.h"

#include "serial/PortNames.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>

namespace fs = std::filesystem;

namespace varnel {

void PrintTo(const Settings& s, std::ostream* os)
{
    *os << '{' << s.portIndex << ", " << s.posX << ", " << s.posY << ", " << s.posDX << ", " << s.posDY << '}';
}

namespace {

// One folder deeper than the test's own, so that the first write has to create it.
class SettingsTest : public testing::Test {
protected:
    void Put(const std::string& text) const { std::ofstream(m_file, std::ios::binary) << text; }
    std::string Text() const { return test::ReadFileBytes(m_file.string()); }

    test::TempDir m_dir;
    fs::path m_file = m_dir.Path() / "Varnel" / "Varnel.ini";
};

TEST_F(SettingsTest, KeysComeBackNextRunAndOtherLinesStay)
{
    EXPECT_EQ(LoadSettings(m_file), (Settings{0, 100, 100, 300, 300}));
    SaveSettings(2, ScreenRect{-12, 40, 640, 380}, m_file);
    EXPECT_EQ(Text(), "[Varnel]\nPortCOM=2\nPosX=-12\nPosY=40\nPosDX=640\nPosDY=380\n");
    EXPECT_EQ(LoadSettings(m_file), (Settings{2, -12, 40, 640, 380}));
    // Missing keys keep the first run's values; an unreadable window keeps the stored place.
    Put("[Ports]\nCOM33=/dev/ttyV0\n\n[varnel]\nposy=-12\nPORTCOM=256\nPosDY=50\n; note\n");
    EXPECT_EQ(LoadSettings(m_file), (Settings{256, 100, -12, 300, 50}));
    SaveSettings(255, std::nullopt, m_file);
    EXPECT_EQ(Text(), "[Ports]\nCOM33=/dev/ttyV0\n\n[varnel]\nposy=-12\nPORTCOM=255\nPosDY=50\n; note\n");
}

TEST_F(SettingsTest, PortsSectionMapsWellFormedComNamesOnly)
{
    fs::create_directories(m_file.parent_path());
    Put("[Varnel]\nCOM5=/dev/notports\n[Ports]\nCOM33=/dev/serial/by-id/usb-probe\n  com7 = /dev/ttyV7\n"
        "Com7=/dev/second\nCOM07=/dev/third\nCOM8=relative/path\nCOM9=\nCOMX=/dev/ttyS1\nCOM0=/dev/ttyS0\n"
        "COM-3=/dev/ttyS2\nLPT1=/dev/lp0\n");
    PortNames names;
    LoadPortMappings(names, m_file);
    EXPECT_EQ(names.Mappings(), (std::map<int, std::string>{{7, "/dev/ttyV7"}, {33, "/dev/serial/by-id/usb-probe"}}));
}

TEST(SettingsPath, FollowsTheXdgRule)
{
    EXPECT_EQ(SettingsFilePathFor("/x/cfg", "/home/u"), fs::path("/x/cfg/Varnel/Varnel.ini"));
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "cfg"})
        EXPECT_EQ(SettingsFilePathFor(unusable, "/home/u"), fs::path("/home/u/.config/Varnel/Varnel.ini"));
    EXPECT_EQ(SettingsFilePathFor(nullptr, ""), fs::path("Varnel.ini"));
}

// A 640 x 380 window opens where it was saved unless no screen would show any of it.
TEST(StartPosition, KeepsTheSavedPlaceWhileAScreenShowsPartOfTheWindow)
{
    const ScreenRect left{0, 0, 1920, 1040}, right{1920, 0, 1280, 1024};
    const struct { ScreenPoint saved; std::vector<ScreenRect> screens; ScreenPoint expected; } cases[] = {
        {{-12, -5}, {left}, {-12, -5}}, {{2500, 100}, {left, right}, {2500, 100}},
        {{2500, 100}, {left}, {100, 100}},   // the second screen unplugged
        {{-639, 1039}, {left}, {-639, 1039}}, // one pixel shows
        {{1920, 0}, {left}, {100, 100}}, {{-640, -380}, {left}, {100, 100}}, // edges touch, no pixel shows
        {{INT_MAX, INT_MAX}, {left}, {100, 100}}, {{INT_MIN, INT_MIN}, {left}, {100, 100}},
        {{5000, 5000}, {}, {5000, 5000}}};   // no screen known
    for (const auto& c : cases)
        EXPECT_EQ(StartPosition(c.saved, 640, 380, c.screens), c.expected) << c.saved.x << ',' << c.saved.y;
}

} // namespace
} // namespace varnel
