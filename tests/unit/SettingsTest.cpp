#include "settings/Settings.h"

#include "serial/PortNames.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

// A relative XDG_CONFIG_HOME counts as unset: the file goes two folders down from HOME.
TEST(Settings, KeysComeBackNextRunOtherLinesStayAndAnOlderFileCarriesOver)
{
    const test::TempDir dir;
    const auto file = SettingsFilePathFor("relative/is/unset", dir.Path().c_str());
    ASSERT_EQ(file, dir.Path() / ".config/Varnel/Varnel.ini");
    EXPECT_EQ(LoadSettings(file), (Settings{0, 100, 100, 300, 300}));
    SaveSettings(2, ScreenRect{-12, 40, 640, 380}, file);
    EXPECT_EQ(test::ReadFileBytes(file), "[Varnel]\nPortCOM=2\nPosX=-12\nPosY=40\nPosDX=640\nPosDY=380\n");
    // Missing keys keep the first run's values, an unreadable window the stored place; the
    // ports section maps well-formed COM names to absolute paths only, the first of each.
    const std::string ports =
        "[Ports]\nCOM33=/dev/serial/by-id/probe\n  com7 = /dev/ttyV7\nCom7=/dev/2\nCOM07=/dev/3\n"
        "COM8=relative/path\nCOM9=\nCOMX=/dev/ttyS1\nCOM0=/dev/ttyS0\nLPT1=/dev/lp0\n";
    const std::string ours = "\n[varnel]\nposy=-12\nPORTCOM=256\nPosDY=50\nCOM5=/dev/notports\n; note\n";
    std::ofstream(file) << ports << ours;
    EXPECT_EQ(LoadSettings(file), (Settings{256, 100, -12, 300, 50}));
    SaveSettings(255, std::nullopt, file);
    EXPECT_EQ(test::ReadFileBytes(file), ports + std::string(ours).replace(ours.find("256"), 3, "255"));
    PortNames names;
    LoadPortMappings(names, file);
    EXPECT_EQ(names.Mappings(),
              (std::map<int, std::string>{{7, "/dev/ttyV7"}, {33, "/dev/serial/by-id/probe"}}));
    EXPECT_EQ(SettingsFilePathFor("/x/cfg", "/h"), "/x/cfg/Varnel/Varnel.ini");

    // An older installation's file is read until the program's own exists; the first save
    // starts from a copy of it, and the older file is never written.
    const auto own = dir.Path() / "AppData/Varnel/Varnel.ini", older = dir.Path() / "Varnel.ini";
    EXPECT_EQ(SettingsFileToRead(own, older), own);
    const std::string old = "[Varnel]\r\nPortCOM=4\r\nPosX=250\r\n";
    std::ofstream(older, std::ios::binary) << old;
    EXPECT_EQ(LoadSettings(SettingsFileToRead(own, older)), (Settings{4, 250, 100, 300, 300}));
    SaveSettings(6, std::nullopt, own, older);
    EXPECT_EQ(test::ReadFileBytes(older), old);
    EXPECT_EQ(SettingsFileToRead(own, older), own);
    EXPECT_EQ(LoadSettings(own), (Settings{6, 250, 100, 300, 300}));
}

// The saved place stays while a screen shows a pixel of the window, or no screen is known.
TEST(Settings, StartPositionKeepsTheSavedPlaceWhileAScreenShowsPartOfTheWindow)
{
    const ScreenRect left{0, 0, 1920, 1040}, right{1920, 0, 1280, 1024};
    const struct {
        ScreenPoint saved;
        std::vector<ScreenRect> screens;
        ScreenPoint expected;
    } cases[] = {{{2500, 100}, {left, right}, {2500, 100}}, {{2500, 100}, {left}, {100, 100}},
                 {{-639, 1039}, {left}, {-639, 1039}},      {{1920, 0}, {left}, {100, 100}},
                 {{-640, -380}, {left}, {100, 100}},        {{5, 5}, {}, {5, 5}}};
    for (const auto& c : cases)
        EXPECT_EQ(StartPosition(c.saved, 640, 380, c.screens), c.expected) << c.saved.x << ',' << c.saved.y;
}

} // namespace
} // namespace varnel
