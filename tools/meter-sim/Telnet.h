#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel::sim {

// The telnet framing of a virtual machine's serial port on a socket: a data
// byte 0xFF goes doubled, anything else after 0xFF (IAC) is a command, and a
// line break is IAC BREAK.
inline constexpr char kTelnetBreak[] = {'\xFF', '\xF3'};

// Data bytes out of the received stream; commands, option negotiation and
// subnegotiations are dropped, also when a read splits them.
class TelnetDecoder {
public:
    void Decode(const std::uint8_t* data, std::size_t count, std::string& out);

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    State m_state = State::Data;
};

std::string TelnetEncode(const std::string& data);

} // namespace varnel::sim
