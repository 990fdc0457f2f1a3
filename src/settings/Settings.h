#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace varnel {

class PortNames;

inline constexpr std::string_view kSettingsFileName = "Varnel.ini";
inline constexpr std::string_view kSettingsSection = "Varnel";
inline constexpr std::string_view kPortsSection = "Ports";
inline constexpr int kDefaultPosX = 100;
inline constexpr int kDefaultPosY = 100;

// What one run leaves for the next. Loaded with the defaults of a first run.
struct Settings {
    int portIndex = 0;       // "PortCOM": 0 is COM1
    int posX = kDefaultPosX; // "PosX", "PosY": the window's outer top-left, screen pixels
    int posY = kDefaultPosY;
    int posDX = 300; // "PosDX", "PosDY": the outer size at the last exit
    int posDY = 300;

    bool operator==(const Settings& o) const
    {
        return portIndex == o.portIndex && posX == o.posX && posY == o.posY && posDX == o.posDX
               && posDY == o.posDY;
    }
};

// A rectangle in screen pixels: the window's outer (restored) rectangle or a screen's
// available area.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint& other) const { return x == other.x && y == other.y; }
};

// Linux: $XDG_CONFIG_HOME/Varnel/Varnel.ini, else $HOME/.config/Varnel/Varnel.ini (the
// password database's home when HOME is unset), else Varnel.ini in the current folder.
// Windows: %APPDATA%\Varnel\Varnel.ini (the Windows directory, where the file was
// once kept, is not writable without elevation).
std::filesystem::path SettingsFilePath();
// Windows: the Windows directory's Varnel.ini of an older installation. Elsewhere empty.
std::filesystem::path OlderSettingsFilePath();
// The file to read the settings from: `file`, or while it does not exist yet, `older`
// where that exists, so that an older installation's settings carry over.
std::filesystem::path SettingsFileToRead(const std::filesystem::path& file = SettingsFilePath(),
                                         const std::filesystem::path& older = OlderSettingsFilePath());
// The Linux rule with the environment given; null or empty means unset, and a
// relative XDG_CONFIG_HOME counts as unset.
std::filesystem::path SettingsFilePathFor(const char* xdgConfigHome, const char* home);

// Reads "PortCOM", "PosX", "PosY", "PosDX", "PosDY" in this order; missing keys keep
// their defaults, values are taken without range checks.
Settings LoadSettings(const std::filesystem::path& file = SettingsFilePath());

// Writes "PortCOM", then, when the window's restored rectangle could be read, "PosX",
// "PosY", "PosDX", "PosDY" from it (otherwise those keep their stored values), each
// as a plain decimal, then flushes. Failures are silent by design: the next run reads
// whatever is there. A `file` that does not exist yet starts as a copy of `older`
// (where that exists), so nothing else the older file held is lost; `older` itself
// is never written.
void SaveSettings(int portIndex, const std::optional<ScreenRect>& restoredRect,
                  const std::filesystem::path& file = SettingsFilePath(),
                  const std::filesystem::path& older = {});

// Adds each "COMn=<device>" of the `Ports` section to `names`; lines that are no COM
// name, or whose device is neither an absolute path nor a network port
// (tcp://, rfc2217://), are skipped.
void LoadPortMappings(PortNames& names, const std::filesystem::path& file = SettingsFilePath());

// Where the window of the given outer size opens: at the saved place, unless there it
// would meet no screen's available area at all (a monitor since unplugged); then at
// the first-run default. A window partly off screen stays where it was saved.
ScreenPoint StartPosition(ScreenPoint saved, int width, int height,
                          const std::vector<ScreenRect>& availableAreas);

} // namespace varnel
