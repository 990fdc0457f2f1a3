#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel {

// IEC 62056-21 block check character: exclusive-or of the bytes given (for a
// data block, every byte after STX or SOH up to and including ETX).
inline std::uint8_t BlockCheck(const std::uint8_t* bytes, std::size_t count)
{
    std::uint8_t bcc = 0;
    for (std::size_t i = 0; i < count; ++i)
        bcc ^= bytes[i];
    return bcc;
}

} // namespace varnel
