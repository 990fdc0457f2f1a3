#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Data lines of a large meter, about `bytes` bytes on the wire with their CR LF.
inline std::vector<std::string> MeterLines(std::size_t bytes)
{
    std::vector<std::string> lines;
    std::size_t total = 0;
    for (int i = 0; total < bytes; ++i) {
        lines.push_back("1-0:1.8." + std::to_string(i % 100) + "*" + std::to_string(i % 15)
                        + "(0006334.294*kWh)");
        total += lines.back().size() + 2;
    }
    return lines;
}
