#include "settings/Settings.h"

#include "serial/NetworkAddress.h"
#include "serial/PortNames.h"
#include "settings/ProfileFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace varnel {

namespace {

constexpr std::string_view kPortComKey = "PortCOM";
constexpr std::string_view kPosXKey = "PosX";
constexpr std::string_view kPosYKey = "PosY";
constexpr std::string_view kPosDXKey = "PosDX";
constexpr std::string_view kPosDYKey = "PosDY";

void WriteInt(ProfileFile& file, std::string_view key, int value)
{
    file.WriteString(kSettingsSection, key, std::to_string(value));
}

bool Intersects(const ScreenRect& a, const ScreenRect& b)
{
    // Positions come unchecked from the file: add in 64 bits.
    const auto right = [](const ScreenRect& r) { return std::int64_t{r.x} + r.width; };
    const auto bottom = [](const ScreenRect& r) { return std::int64_t{r.y} + r.height; };
    return a.x < right(b) && b.x < right(a) && a.y < bottom(b) && b.y < bottom(a);
}

// A device the map may name: an absolute path, or on Windows a name in the device namespace
// (\\.\COM42), in which libstdc++ sees no root name and so no absolute path.
bool IsDevicePath(const std::string& device)
{
#ifdef _WIN32
    if (device.rfind("\\\\", 0) == 0)
        return true;
#endif
    return std::filesystem::path(device).is_absolute();
}

} // namespace

std::filesystem::path SettingsFilePathFor(const char* xdgConfigHome, const char* home)
{
    const std::filesystem::path fileName(kSettingsFileName);
    if (xdgConfigHome != nullptr && *xdgConfigHome != '\0') {
        const std::filesystem::path base(xdgConfigHome);
        if (base.is_absolute())
            return base / "Varnel" / fileName;
    }
    if (home != nullptr && *home != '\0')
        return std::filesystem::path(home) / ".config" / "Varnel" / fileName;
    return fileName;
}

std::filesystem::path SettingsFilePath()
{
#ifdef _WIN32
    PWSTR folder = nullptr;
    std::filesystem::path path(kSettingsFileName);
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder) == S_OK)
        path = std::filesystem::path(folder) / "Varnel" / kSettingsFileName;
    CoTaskMemFree(folder);
    return path;
#else
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return SettingsFilePathFor(std::getenv("XDG_CONFIG_HOME"), home);
#endif
}

std::filesystem::path OlderSettingsFilePath()
{
#ifdef _WIN32
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::filesystem::path(folder) / kSettingsFileName;
#else
    return {};
#endif
}

std::filesystem::path SettingsFileToRead(const std::filesystem::path& file,
                                         const std::filesystem::path& older)
{
    std::error_code ec;
    if (older.empty() || std::filesystem::exists(file, ec) || !std::filesystem::is_regular_file(older, ec))
        return file;
    return older;
}

Settings LoadSettings(const std::filesystem::path& file)
{
    const ProfileFile profile(file);
    Settings settings;
    settings.portIndex = profile.GetInt(kSettingsSection, kPortComKey, settings.portIndex);
    settings.posX = profile.GetInt(kSettingsSection, kPosXKey, settings.posX);
    settings.posY = profile.GetInt(kSettingsSection, kPosYKey, settings.posY);
    settings.posDX = profile.GetInt(kSettingsSection, kPosDXKey, settings.posDX);
    settings.posDY = profile.GetInt(kSettingsSection, kPosDYKey, settings.posDY);
    return settings;
}

void SaveSettings(int portIndex, const std::optional<ScreenRect>& restoredRect,
                  const std::filesystem::path& file, const std::filesystem::path& older)
{
    if (const auto source = SettingsFileToRead(file, older); source != file) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        std::filesystem::copy_file(source, file, ec);
    }
    // Read afresh: keys and lines another program or the user added since start stay.
    ProfileFile profile(file);
    WriteInt(profile, kPortComKey, portIndex);
    if (restoredRect) {
        WriteInt(profile, kPosXKey, restoredRect->x);
        WriteInt(profile, kPosYKey, restoredRect->y);
        WriteInt(profile, kPosDXKey, restoredRect->width);
        WriteInt(profile, kPosDYKey, restoredRect->height);
    }
    profile.Flush();
}

void LoadPortMappings(PortNames& names, const std::filesystem::path& file)
{
    const ProfileFile profile(file);
    std::set<int> mapped;
    for (const auto& [key, device] : profile.Entries(kPortsSection)) {
        const auto number = PortNames::ParseComName(key);
        // "COM5" and "com5" are one key; as with any key, the first one counts.
        if (!number || device.empty() || !(IsDevicePath(device) || IsNetworkPortName(device))
            || !mapped.insert(*number).second)
            continue;
        names.SetMapping(*number, device);
    }
}

ScreenPoint StartPosition(ScreenPoint saved, int width, int height,
                          const std::vector<ScreenRect>& availableAreas)
{
    if (availableAreas.empty())
        return saved;
    const ScreenRect window{saved.x, saved.y, std::max(width, 1), std::max(height, 1)};
    const bool reachable = std::any_of(availableAreas.begin(), availableAreas.end(),
                                       [&](const ScreenRect& area) { return Intersects(window, area); });
    return reachable ? saved : ScreenPoint{kDefaultPosX, kDefaultPosY};
}

} // namespace varnel
