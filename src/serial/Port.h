#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace varnel {

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
enum class LineControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2 };

// The line settings record the port layer keeps per open port. Field names follow
// the platform's record so that "left as reported" has a precise meaning.
struct LineSettings {
    std::int32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    LineControl rtsControl = LineControl::Enable;
    LineControl dtrControl = LineControl::Enable;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool null = false;

    bool operator==(const LineSettings& o) const
    {
        return baudRate == o.baudRate && byteSize == o.byteSize && parity == o.parity
               && stopBits == o.stopBits && rtsControl == o.rtsControl && dtrControl == o.dtrControl
               && outxCtsFlow == o.outxCtsFlow && outxDsrFlow == o.outxDsrFlow
               && dsrSensitivity == o.dsrSensitivity && txContinueOnXoff == o.txContinueOnXoff
               && outX == o.outX && inX == o.inX && null == o.null;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }
};

enum class BreakSeen { No, Yes, Unsupported };

// A driver that counts breaks since it was loaded reports a break when its
// count moved since the last query. `previous` is negative before the first
// query after an open, which only takes the baseline.
constexpr BreakSeen BreakSeenBetween(std::int64_t previous, std::int64_t current)
{
    return previous >= 0 && current != previous ? BreakSeen::Yes : BreakSeen::No;
}

// The port seam: one serial device at a time. Real: QSerialPort plus a few ioctls.
// Fake: a scripted peer that records every call.
class Port {
public:
    virtual ~Port() = default;

    // Opens `device` exclusively with `settings` applied before the open (a
    // pseudo-terminal refuses 7E1 afterwards). `forLineTest` is the
    // asynchronous open mode; no data is transferred in it.
    virtual bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) = 0;
    virtual void Close() = 0;
    // Writes rate, character format and the RTS/DTR levels to the open port.
    virtual bool Apply(const LineSettings& settings) = 0;
    // Hands bytes to the driver; returns how many it took.
    virtual std::size_t Write(const std::uint8_t* data, std::size_t count) = 0;
    // Returns at once with at most `max` bytes that have already arrived.
    virtual std::size_t Read(std::uint8_t* data, std::size_t max) = 0;
    // Discards whatever waits in both directions.
    virtual bool Purge() = 0;
    virtual bool SetBreak(bool on) = 0;
    virtual bool SetRts(bool on) = 0;
    virtual bool SetDtr(bool on) = 0;
    // Whether a break arrived on the receive line since the last call.
    virtual BreakSeen TakeBreakSeen() = 0;
    // The system's reason for the last failure, for the user.
    virtual std::string LastError() const = 0;

    // Whether Apply's rate reaches the meter's line. A raw TCP link to a serial
    // converter carries bytes only: the line runs at whatever the converter is set to.
    virtual bool RateReachesLine() const { return true; }
    // Received bytes whose parity bit was wrong since the open, where this port
    // checks parity itself (7E1 carried as 8-bit bytes); nothing where the line's
    // hardware does, unseen.
    virtual std::optional<std::uint32_t> ParityErrors() const { return std::nullopt; }
};

} // namespace varnel
