#pragma once

#include <map>
#include <optional>
#include <string>

namespace varnel {

// Resolves COM port numbers to devices: the user's own mapping (the settings
// file's `Ports` section) first, then the fixed ranges ttyS, ttyUSB, ttyACM.
class PortNames {
public:
    void SetMapping(int portNumber, const std::string& device);
    // The device behind COMn; empty when no device can stand behind that number.
    std::string DeviceFor(int portNumber) const;
    const std::map<int, std::string>& Mappings() const { return m_map; }

    // "COM7" (any case) -> 7; anything else -> nothing.
    static std::optional<int> ParseComName(const std::string& name);

private:
    std::map<int, std::string> m_map;
};

} // namespace varnel
