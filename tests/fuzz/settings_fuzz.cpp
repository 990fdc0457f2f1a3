// Any settings file, read at start and written at exit as the window does: what was written reads back,
// every line the program does not own stays byte for byte, and nothing but the file is left.
#include "FuzzSupport.h"

#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cctype>

namespace {

std::vector<std::string> Lines(std::string text)
{
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) // a byte order mark is no line of its own
        text.erase(0, 3);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        // Lines without their breaks: a last line without one gets one when keys follow it.
        std::size_t last = end;
        while (last > at && text[last - 1] == '\r')
            --last;
        lines.push_back(text.substr(at, last - at));
        at = end + 1;
    }
    return lines;
}

// A line that may hold one of the five keys, in whatever case.
bool MayBeOurs(std::string line)
{
    std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
    return line.find("portcom") != std::string::npos || line.find("pos") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    FuzzedDataProvider in(data, size);
    const Settings saved{in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(),
                         in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()};
    const std::string before = in.ConsumeRemainingBytesAsString();
    test::TempDir dir;
    const std::string file = dir.File("Varnel.ini");
    std::ofstream(file, std::ios::binary) << before;
    const auto ports = ProfileFile(file).Entries(kPortsSection);
    LoadSettings(file);

    SaveSettings(saved.portIndex, ScreenRect{saved.posX, saved.posY, saved.posDX, saved.posDY}, file);
    FUZZ_CHECK(LoadSettings(file) == saved);
    FUZZ_CHECK(ProfileFile(file).Entries(kPortsSection) == ports);
    const auto after = Lines(test::ReadFileBytes(file));
    auto next = after.begin();
    for (const std::string& line : Lines(before))
        if (!MayBeOurs(line))
            FUZZ_CHECK((next = std::find(next, after.end(), line)) != after.end());
    FUZZ_CHECK(std::distance(std::filesystem::directory_iterator(dir.Path()), {}) == 1);
    return 0;
}
