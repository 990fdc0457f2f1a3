#pragma once

#include "serial/NetworkAddress.h"
#include "serial/Port.h"
#include "serial/Rfc2217.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QTcpSocket;

namespace varnel {

// How long an open may wait for the connection and the Telnet agreement, in all.
constexpr std::chrono::seconds kConnectTimeout{5};

// A meter behind a serial device server, a modem or a Wi-Fi read head: a port
// named tcp://HOST:PORT (the bytes only) or rfc2217://HOST:PORT (the line
// settings, RTS/DTR, break and the line state too), on Qt Network.
//
// The window has no other thread, so the waits of an open (name lookup,
// connect, the Telnet agreement) run a local event loop that leaves out user
// input: the window repaints and its timers tick (they find no port open yet),
// clicks wait until the open is over, at most kConnectTimeout. Nothing else
// waits: the server's answers to commands are taken as they come, and a server
// that sends none (ser2net gives none to RTS/DTR on a pseudo-terminal) stops
// nothing.
//
// With ?parity=soft the port is the 7E1 UART itself on a link that carries 8
// bits unchanged: it sets the even-parity bit on every byte it sends, and
// checks and clears it on every byte it receives, counting the wrong ones.
//
// A connection that drops is let go at once; to the caller the port then stays
// "open" but silent until Close or the next Open, as a device that vanished
// does, and LastError says what happened.
class NetworkPort final : public Port {
public:
    NetworkPort();
    ~NetworkPort() override;
    NetworkPort(const NetworkPort&) = delete;
    NetworkPort& operator=(const NetworkPort&) = delete;

    bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) override;
    void Close() override;
    bool Apply(const LineSettings& settings) override;
    std::size_t Write(const std::uint8_t* data, std::size_t count) override;
    std::size_t Read(std::uint8_t* data, std::size_t max) override;
    bool Purge() override;
    bool SetBreak(bool on) override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    BreakSeen TakeBreakSeen() override;
    std::string LastError() const override { return m_lastError; }
    bool RateReachesLine() const override;
    std::optional<std::uint32_t> ParityErrors() const override;

private:
    bool Connected() const;
    bool IsRfc2217() const { return m_address.kind == NetworkAddress::Kind::Rfc2217; }
    bool SoftParity() const;
    bool Fail(const std::string& reason);
    // Runs the local event loop until `done` or the socket's end, at most until `deadline`.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
    // Takes what the server has sent: data into m_rx, the Telnet part answered.
    void Pump();
    bool Send(const std::string& bytes);
    bool Control(std::uint8_t value);
    void OnLost();

    std::unique_ptr<QTcpSocket> m_socket;
    NetworkAddress m_address;
    rfc2217::Session m_session;
    // As last applied: whether the meter's characters are 7E1 decides whether
    // soft parity applies (an 8N1 push meter's bytes pass unchanged).
    LineSettings m_settings;
    std::string m_rx;
    std::string m_lastError;
    std::uint32_t m_parityErrors = 0;
    bool m_lost = false;
    // Line test: no data is read; what arrives is dropped as it is decoded.
    bool m_dropData = false;
    bool m_breakOn = false;
};

} // namespace varnel
