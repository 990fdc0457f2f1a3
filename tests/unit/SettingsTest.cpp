#include "settings/Settings.h"

#include "serial/PortNames.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <climits>

namespace fs = std::filesystem;

namespace varnel {
namespace {

std::vector<int> Loaded(const fs::path& file)
{
    const Settings s = LoadSettings(file);
    return {s.portIndex, s.posX, s.posY, s.posDX, s.posDY};
}

// The file one folder deeper than the test's own, so that the first write has to create it.
TEST(Settings, KeysComeBackNextRunAndOtherLinesStay)
{
    const test::TempDir dir;
    const fs::path file = dir.Path() / "Varnel" / "Varnel.ini";
    EXPECT_EQ(Loaded(file), (std::vector<int>{0, 100, 100, 300, 300}));
    SaveSettings(2, ScreenRect{-12, 40, 640, 380}, file);
    EXPECT_EQ(test::ReadFileBytes(file), "[Varnel]\nPortCOM=2\nPosX=-12\nPosY=40\nPosDX=640\nPosDY=380\n");
    EXPECT_EQ(Loaded(file), (std::vector<int>{2, -12, 40, 640, 380}));
    // Missing keys keep the first run's values, an unreadable window the stored place; the
    // ports section maps well-formed COM names to absolute paths only, the first of each.
    const std::string ports = "[Ports]\nCOM33=/dev/serial/by-id/usb-probe\n  com7 = /dev/ttyV7\nCom7=/dev/second\n"
        "COM07=/dev/third\nCOM8=relative/path\nCOM9=\nCOMX=/dev/ttyS1\nCOM0=/dev/ttyS0\nCOM-3=/dev/ttyS2\nLPT1=/dev/lp0\n";
    const std::string ours = "\n[varnel]\nposy=-12\nPORTCOM=256\nPosDY=50\nCOM5=/dev/notports\n; note\n";
    std::ofstream(file) << ports << ours;
    EXPECT_EQ(Loaded(file), (std::vector<int>{256, 100, -12, 300, 50}));
    SaveSettings(255, std::nullopt, file);
    EXPECT_EQ(test::ReadFileBytes(file), ports + std::string(ours).replace(ours.find("256"), 3, "255"));
    PortNames names;
    LoadPortMappings(names, file);
    EXPECT_EQ(names.Mappings(), (std::map<int, std::string>{{7, "/dev/ttyV7"}, {33, "/dev/serial/by-id/usb-probe"}}));
}

TEST(Settings, FileFollowsTheXdgRule)
{
    EXPECT_EQ(SettingsFilePathFor("/x/cfg", "/home/u"), "/x/cfg/Varnel/Varnel.ini");
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "cfg"})
        EXPECT_EQ(SettingsFilePathFor(unusable, "/home/u"), "/home/u/.config/Varnel/Varnel.ini") << !unusable;
    EXPECT_EQ(SettingsFilePathFor(nullptr, ""), "Varnel.ini");
}

// A 640 x 380 window opens where it was saved unless no screen would show a pixel of it
// (a second screen unplugged; edges that only touch); with no screen known, where it was.
TEST(Settings, StartPositionKeepsTheSavedPlaceWhileAScreenShowsPartOfTheWindow)
{
    const ScreenRect left{0, 0, 1920, 1040}, right{1920, 0, 1280, 1024};
    const struct { ScreenPoint saved; std::vector<ScreenRect> screens; ScreenPoint expected; } cases[] = {
        {{-12, -5}, {left}, {-12, -5}}, {{2500, 100}, {left, right}, {2500, 100}}, {{2500, 100}, {left}, {100, 100}},
        {{-639, 1039}, {left}, {-639, 1039}}, {{1920, 0}, {left}, {100, 100}}, {{-640, -380}, {left}, {100, 100}},
        {{INT_MAX, INT_MAX}, {left}, {100, 100}}, {{INT_MIN, INT_MIN}, {left}, {100, 100}}, {{5, 5}, {}, {5, 5}}};
    for (const auto& c : cases)
        EXPECT_EQ(StartPosition(c.saved, 640, 380, c.screens), c.expected) << c.saved.x << ',' << c.saved.y;
}

} // namespace
} // namespace varnel
