#include "serial/PortNames.h"

#include <cctype>
#include <string>

namespace varnel {

void PortNames::SetMapping(int portNumber, const std::string& device)
{
    if (portNumber > 0 && !device.empty())
        m_map[portNumber] = device;
}

std::string PortNames::DeviceFor(int portNumber) const
{
    if (auto it = m_map.find(portNumber); it != m_map.end())
        return it->second;
    if (portNumber < 1)
        return {};
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(portNumber);
#else
    // Fixed ranges of 32 each: on-board UARTs, USB-serial adapters, USB CDC probes.
    static const char* const kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    const int family = (portNumber - 1) / 32;
    if (family >= 3)
        return {};
    return kFamilies[family] + std::to_string((portNumber - 1) % 32);
#endif
}

std::optional<int> PortNames::ParseComName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 12)
        return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "COM"[i])
            return std::nullopt;
    long value = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return std::nullopt;
        value = value * 10 + (name[i] - '0');
    }
    if (value < 1 || value > 100000)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace varnel
