#include "StartSettings.h"

namespace varnel {

StartSettings LoadStartSettings(const std::filesystem::path& file)
{
    StartSettings s;
    s.window = LoadSettings(file);
    LoadPortMappings(s.names, file);
    return s;
}

void SaveWindowSettings(int portIndex, const QRect& restoredRect, const std::filesystem::path& file,
                        const std::filesystem::path& older)
{
    std::optional<ScreenRect> rect;
    if (restoredRect.isValid())
        rect = ScreenRect{restoredRect.x(), restoredRect.y(), restoredRect.width(), restoredRect.height()};
    SaveSettings(portIndex, rect, file, older);
}

} // namespace varnel
