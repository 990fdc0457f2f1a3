#include "serial/Rfc2217.h"

#include <utility>

namespace varnel::rfc2217 {

namespace {

constexpr std::uint8_t SE = 0xF0;
constexpr std::uint8_t SB = 0xFA;
constexpr std::uint8_t WILL = 0xFB;
constexpr std::uint8_t WONT = 0xFC;
constexpr std::uint8_t DO = 0xFD;
constexpr std::uint8_t DONT = 0xFE;
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kServerOffset = 100;

std::string Verb(std::uint8_t verb, std::uint8_t option)
{
    return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

// Binary, so that bytes with bit 7 (software parity) pass, and no go-ahead, as
// ser2net and the device servers offer them; we never echo and never want an
// echo of what we send, which would come back as the meter's bytes.
bool WeAccept(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

bool WeAcceptFromServer(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

std::string Escape(const std::uint8_t* data, std::size_t count)
{
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        out += static_cast<char>(data[i]);
        if (data[i] == IAC)
            out += static_cast<char>(IAC);
    }
    return out;
}

std::string ComPortCommand(std::uint8_t command, const std::string& value)
{
    return std::string{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPortOption),
                       static_cast<char>(command)}
           + Escape(reinterpret_cast<const std::uint8_t*>(value.data()), value.size())
           + std::string{static_cast<char>(IAC), static_cast<char>(SE)};
}

std::string ComPortCommand(std::uint8_t command, std::uint8_t value)
{
    return ComPortCommand(command, std::string(1, static_cast<char>(value)));
}

std::string BaudRateValue(std::uint32_t rate)
{
    return {static_cast<char>(rate >> 24), static_cast<char>(rate >> 16), static_cast<char>(rate >> 8),
            static_cast<char>(rate)};
}

std::string Session::Start()
{
    m_us.set(kComPortOption);
    return Verb(WILL, kComPortOption);
}

bool Session::TakeBreak()
{
    return std::exchange(m_break, false);
}

void Session::Receive(const std::uint8_t* bytes, std::size_t count, std::string& data, std::string& reply)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Command;
            else
                data += static_cast<char>(b);
            break;
        case State::Command:
            m_verb = b;
            if (b == IAC)
                data += static_cast<char>(b);
            m_state = b == SB ? State::SubOption : (b >= WILL && b <= DONT) ? State::Option : State::Data;
            break;
        case State::Option:
            Negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::SubOption:
            m_subOption = b;
            m_sub.clear();
            m_state = State::Sub;
            break;
        case State::Sub:
            if (b == IAC)
                m_state = State::SubCommand;
            else if (m_sub.size() < kMaxSubnegotiation)
                m_sub += static_cast<char>(b);
            break;
        case State::SubCommand:
            if (b == IAC) {
                if (m_sub.size() < kMaxSubnegotiation)
                    m_sub += static_cast<char>(b);
                m_state = State::Sub;
            } else if (b == SE) {
                Subnegotiation();
                m_state = State::Data;
            } else {
                // A command inside an unfinished subnegotiation ends it unread.
                m_state = State::Command;
                --i;
            }
            break;
        }
    }
}

// Answers only what changes an option's state, so that two ends never echo
// requests back and forth.
void Session::Negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply)
{
    switch (verb) {
    case WILL:
        if (!WeAcceptFromServer(option))
            reply += Verb(DONT, option);
        else if (!m_him.test(option))
            reply += Verb(DO, option);
        m_him.set(option, WeAcceptFromServer(option));
        break;
    case WONT:
        if (m_him.test(option))
            reply += Verb(DONT, option);
        m_him.reset(option);
        break;
    case DO:
        if (!WeAccept(option))
            reply += Verb(WONT, option);
        else if (!m_us.test(option))
            reply += Verb(WILL, option);
        m_us.set(option, WeAccept(option));
        if (option == kComPortOption)
            m_agreement = Agreement::Agreed;
        break;
    case DONT:
        // Our own offer refused needs no answer; an option withdrawn that was in effect does.
        if (m_us.test(option) && !(option == kComPortOption && m_agreement == Agreement::Pending))
            reply += Verb(WONT, option);
        m_us.reset(option);
        if (option == kComPortOption)
            m_agreement = Agreement::Refused;
        break;
    default: break;
    }
}

void Session::Subnegotiation()
{
    if (m_subOption != kComPortOption || m_sub.size() < 2)
        return;
    const auto command = static_cast<std::uint8_t>(m_sub[0]);
    const auto value = static_cast<std::uint8_t>(m_sub[1]);
    // Any line state report shows the server watches the line; a mask it
    // confirms with the break bit says so before the first report.
    if (command == kServerOffset + NOTIFY_LINESTATE) {
        m_reportsLineState = true;
        m_break = m_break || (value & kBreakDetect) != 0;
    } else if (command == kServerOffset + SET_LINESTATE_MASK && (value & kBreakDetect) != 0) {
        m_reportsLineState = true;
    }
}

} // namespace varnel::rfc2217
