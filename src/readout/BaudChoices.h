#pragma once

#include <array>

namespace varnel {

// Items of the "Initial baudrate:" and "Transmit baudrate:" combos, in order.
// The first item of each means "let the protocol decide".
inline constexpr std::array<const char*, 10> kInitialBaudItems{
    "Auto (300)", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"};
inline constexpr std::array<const char*, 10> kTransmitBaudItems{"Auto", "300",  "600",   "1200",  "2400",
                                                                "4800", "9600", "19200", "38400", "57600"};

} // namespace varnel
