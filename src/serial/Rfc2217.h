#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel::rfc2217 {

constexpr std::uint8_t IAC = 0xFF;
constexpr std::uint8_t kComPortOption = 44;

// Client-to-server commands of the COM port control option; the server answers
// each with its code plus 100.
enum Command : std::uint8_t {
    SET_BAUDRATE = 1,
    SET_DATASIZE = 2,
    SET_PARITY = 3,
    SET_STOPSIZE = 4,
    SET_CONTROL = 5,
    NOTIFY_LINESTATE = 6,
    SET_LINESTATE_MASK = 10,
    PURGE_DATA = 12,
};

// Values of SET-CONTROL, SET-PARITY and SET-STOPSIZE this program uses.
enum Value : std::uint8_t {
    CONTROL_NO_FLOW = 1,
    CONTROL_BREAK_ON = 5,
    CONTROL_BREAK_OFF = 6,
    CONTROL_DTR_ON = 8,
    CONTROL_DTR_OFF = 9,
    CONTROL_RTS_ON = 11,
    CONTROL_RTS_OFF = 12,
    PARITY_NONE = 1,
    PARITY_EVEN = 3,
    STOPSIZE_1 = 1,
    PURGE_BOTH = 3,
};

// The line state's break-detect bit (NOTIFY-LINESTATE, SET-LINESTATE-MASK).
constexpr std::uint8_t kBreakDetect = 0x10;

// Data for the server: each IAC doubled.
std::string Escape(const std::uint8_t* data, std::size_t count);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
std::string ComPortCommand(std::uint8_t command, const std::string& value);
std::string ComPortCommand(std::uint8_t command, std::uint8_t value);
// SET-BAUDRATE's value: four bytes, most significant first.
std::string BaudRateValue(std::uint32_t rate);

// The client's side of one Telnet session with the COM port control option, free
// of any socket: bytes from the server in; data bytes, the answers the option
// negotiation asks for, and what the server reported, out. A command or
// subnegotiation split across calls is kept until it is whole, so the result
// does not depend on how the stream was cut.
class Session {
public:
    enum class Agreement { Pending, Agreed, Refused };

    // What opens the session: the offer to control the server's COM port.
    std::string Start();
    // Appends the data bytes among `count` bytes from the server to `data`, and
    // what must be sent back to `reply`.
    void Receive(const std::uint8_t* bytes, std::size_t count, std::string& data, std::string& reply);

    Agreement ComPort() const { return m_agreement; }
    // Whether the server has shown that it reports the line state.
    bool ReportsLineState() const { return m_reportsLineState; }
    // Whether the server reported a break on the line since the last call.
    bool TakeBreak();

    // Longest subnegotiation kept; the rest of a longer one is dropped.
    static constexpr std::size_t kMaxSubnegotiation = 64;

private:
    enum class State { Data, Command, Option, SubOption, Sub, SubCommand };
    void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply);
    void Subnegotiation();

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::uint8_t m_subOption = 0;
    std::string m_sub;
    // Options in effect on our side and on the server's.
    std::bitset<256> m_us;
    std::bitset<256> m_him;
    Agreement m_agreement = Agreement::Pending;
    bool m_reportsLineState = false;
    bool m_break = false;
};

} // namespace varnel::rfc2217
