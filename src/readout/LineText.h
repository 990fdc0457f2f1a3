#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace varnel {

// The protocol's control characters, as the readout and the push reader see them.
constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t CR = 0x0D;

// A received line's text, `count` bytes with its LF last: up to the CR of
// CR LF, or up to a lone LF (some probes and ttys turn CR into LF, and cutting
// a fixed two bytes would eat the line's last character), and never past a NUL.
inline std::string LineText(const std::uint8_t* line, std::size_t count)
{
    std::size_t end = count > 0 ? count - 1 : 0;
    if (end > 0 && line[end - 1] == '\r')
        --end;
    const auto* first = reinterpret_cast<const char*>(line);
    const void* nul = std::memchr(first, 0, end);
    return std::string(first, nul ? static_cast<const char*>(nul) - first : end);
}

// What the identification line shows: the manufacturer code (positions 1 to 3)
// and the text after the baud character, past a "\x" escape. Positions beyond
// a short line are empty.
struct IdentificationFields {
    std::string flag;
    std::string description;
    std::uint8_t baudChar = 0;
};

inline IdentificationFields SplitIdentification(const std::string& line)
{
    IdentificationFields f;
    auto at = [&line](std::size_t i) -> std::uint8_t {
        return i < line.size() ? static_cast<std::uint8_t>(line[i]) : 0;
    };
    f.flag = line.size() > 1 ? line.substr(1, 3) : std::string();
    const std::size_t textStart = at(5) == '\\' ? 7 : 5;
    if (textStart < line.size())
        f.description = line.substr(textStart);
    f.baudChar = at(4);
    return f;
}

} // namespace varnel
