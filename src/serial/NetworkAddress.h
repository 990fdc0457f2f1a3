#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnel {

// A meter behind a serial device server or a modem: tcp://HOST:PORT (a raw byte
// stream) or rfc2217://HOST:PORT (Telnet with the COM port control option), each
// with an optional ?parity=soft for a link that carries 8 bits unchanged to a
// 7E1 meter.
struct NetworkAddress {
    enum class Kind { Tcp, Rfc2217 };
    Kind kind = Kind::Tcp;
    std::string host; // an IPv6 literal without its brackets
    std::uint16_t port = 0;
    bool softParity = false;
};

// Whether `name` has the scheme of a network port. Such a name is never taken
// for a file, also when the rest is malformed: its open then says what is wrong.
bool IsNetworkPortName(const std::string& name);

// The address `name` gives, or nothing with the reason in `error`.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name, std::string& error);

} // namespace varnel
