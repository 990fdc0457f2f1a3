// Any settings file, read at start and written at exit as the window does: what was written reads back,
// every line the program does not own stays byte for byte, and nothing but the file is left.
#include "FuzzSupport.h"

#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

// The lines without their breaks (after a last break, an empty one); a byte order mark is no line of its own.
std::vector<std::string> Lines(const std::string& text)
{
    std::istringstream in((text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text) + '\n');
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.erase(line.find_last_not_of('\r') + 1));
    return lines;
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
    for (const std::string& line : Lines(before)) {
        std::string lower = line; // a line that may hold one of the five keys, in whatever case, may change
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (lower.find("portcom") == std::string::npos && lower.find("pos") == std::string::npos)
            FUZZ_CHECK((next = std::find(next, after.end(), line)) != after.end());
    }
    FUZZ_CHECK(std::distance(std::filesystem::directory_iterator(dir.Path()), {}) == 1);
    return 0;
}
