#pragma once

#include "serial/PortNames.h"
#include "settings/Settings.h"

#include <QRect>

#include <filesystem>

namespace varnel {

// What a run of the window starts from: the five saved values and the user's
// COM-to-device map, both from the settings file.
struct StartSettings {
    Settings window;
    PortNames names;
};

StartSettings LoadStartSettings(const std::filesystem::path& file = SettingsFileToRead());
// The port index always; the window's place and size when its rectangle is known.
void SaveWindowSettings(int portIndex, const QRect& restoredRect,
                        const std::filesystem::path& file = SettingsFilePath(),
                        const std::filesystem::path& older = OlderSettingsFilePath());

} // namespace varnel
