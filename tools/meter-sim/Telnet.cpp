#include "Telnet.h"

namespace varnel::sim {

namespace {

constexpr std::uint8_t IAC = 0xFF;
constexpr std::uint8_t SB = 0xFA;
constexpr std::uint8_t SE = 0xF0;
constexpr std::uint8_t WILL = 0xFB;
constexpr std::uint8_t DONT = 0xFE;

} // namespace

void TelnetDecoder::Decode(const std::uint8_t* data, std::size_t count, std::string& out)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Command;
            else
                out += static_cast<char>(b);
            break;
        case State::Command:
            if (b == IAC)
                out += static_cast<char>(b);
            m_state = b == SB ? State::Sub : (b >= WILL && b <= DONT) ? State::Option : State::Data;
            break;
        case State::Option: m_state = State::Data; break;
        case State::Sub:
            if (b == IAC)
                m_state = State::SubCommand;
            break;
        case State::SubCommand: m_state = b == SE ? State::Data : State::Sub; break;
        }
    }
}

std::string TelnetEncode(const std::string& data)
{
    std::string out;
    out.reserve(data.size());
    for (const char c : data) {
        out += c;
        if (static_cast<std::uint8_t>(c) == IAC)
            out += c;
    }
    return out;
}

} // namespace varnel::sim
