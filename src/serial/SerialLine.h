#pragma once

#include "serial/Port.h"
#include "serial/PortNames.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel {

class Clock;
class View;

// Receives every message handed to Transmit before any byte of it is sent.
class SentBytesSink {
public:
    virtual ~SentBytesSink() = default;
    virtual void LogSentBytes(const std::uint8_t* bytes, int count) = 0;
};

constexpr std::chrono::milliseconds kTransmitPacing{50};
// What the readout and the line test show when OpenPort fails.
inline constexpr const char* kOpenPortError = "Open port COM error";
constexpr std::size_t kReadChunk = 100;

// The one serial port the program uses at a time: open, configure, re-apply,
// paced transmit, and the direct operations of the readout and the line test.
class SerialLine {
public:
    SerialLine(Port& port, Clock& clock, View& view, const PortNames& names);

    void SetSentBytesSink(SentBytesSink* sink) { m_sink = sink; }

    // 0 on success, 1 on failure; shows no message.
    int OpenPort();
    void ClosePort();
    void ApplyPortSettings();
    void Transmit(const std::uint8_t* bytes, std::int32_t count);

    bool IsOpen() const { return m_open; }
    // Up to `max` received bytes, each with bit 7 cleared (7E1 read through an
    // 8-bit line leaves the parity bit there). Never waits.
    std::size_t Read(std::uint8_t* buffer, std::size_t max);
    void Purge();
    // One unpaced, unlogged write of a whole message.
    void WriteDirect(const std::uint8_t* bytes, std::size_t count);
    void SetBreak(bool on);
    void SetRts(bool on);
    void SetDtr(bool on);
    BreakSeen TakeBreakSeen();
    // Whether the rates of a re-apply reach the meter (not through a raw TCP link).
    bool RateReachesLine() const { return !m_open || m_port.RateReachesLine(); }
    // Bytes received with a wrong parity bit since the open, where the port checks.
    std::optional<std::uint32_t> ParityErrors() const
    {
        return m_open ? m_port.ParityErrors() : std::nullopt;
    }

    // The port name and device of the last open attempt, and the system's
    // reason when it failed.
    std::string PortName() const;
    std::string DeviceName() const { return m_device; }
    std::string OpenError() const { return m_openError; }

    // A device path given directly (varnel-read --port /dev/...) instead of COMn.
    void SetDeviceOverride(const std::string& device) { m_deviceOverride = device; }

    int m_portIndex = 0;
    std::int32_t m_baudRate = 300;
    // 8N1 instead of the protocol's 7E1 (DSMR P1 ports); bytes then keep bit 7.
    bool m_eightBits = false;
    int m_testMode = 0;
    int m_breakOn = 0;

private:
    Port& m_port;
    Clock& m_clock;
    View& m_view;
    const PortNames& m_names;
    SentBytesSink* m_sink = nullptr;
    bool m_open = false;
    // The settings last written to the open port ("as reported").
    LineSettings m_reported;
    std::string m_device;
    std::string m_deviceOverride;
    std::string m_openError;
};

} // namespace varnel
