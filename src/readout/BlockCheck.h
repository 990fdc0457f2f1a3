#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

// What a block's or a telegram's check found; ordered so that the worse of two wins.
enum class BlockCheckResult { None, Ok, Error };

// The event row of a block whose check byte is not the one its bytes give; both
// in the seven bits a 7E1 line carries.
inline std::string BlockCheckErrorRow(std::uint8_t received, std::uint8_t expected)
{
    char row[48];
    std::snprintf(row, sizeof row, " -- BCC error (0x%02X, expected 0x%02X) -- ", received & 0x7F,
                  expected & 0x7F);
    return row;
}

// CRC-16/ARC, the check of a DSMR P1 telegram: polynomial 0x8005 bit-reversed,
// initial value 0, no final exclusive-or.
inline std::uint16_t Crc16Update(std::uint16_t crc, std::uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

} // namespace varnel
