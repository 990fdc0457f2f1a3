#pragma once

#include "serial/Port.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

namespace varnel {

// The port on Windows: the communications calls on a COM handle, with the
// line settings in the driver's DCB and read time-outs under which a read
// returns at once.
class Win32SerialPort final : public Port {
public:
    Win32SerialPort();
    ~Win32SerialPort() override;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

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

    const std::string& Device() const { return m_device; }
    // Windows grants a COM port to every user; a refusal means another program has it.
    bool OpenDenied() const { return false; }
    bool HoldsDevice() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    bool Fail(const char* what);
    bool WriteState(DCB& dcb);
    bool Escape(DWORD function);
    void Release(const char* what);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    // Line test mode opens for overlapped I/O and moves no data; a read or a
    // write on such a handle without an OVERLAPPED record is not allowed.
    bool m_overlapped = false;
    const bool m_underWine;
    std::string m_device;
    std::string m_lastError;
};

// The record OpenPort writes: the protocol's rate and character format, static
// RTS and DTR levels and no handshake of any kind; every other field as read.
void ComposeOpenState(DCB& dcb, const LineSettings& settings);
// The record a re-apply writes: rate, character format and the RTS/DTR levels
// given; every flag field as read.
void ComposeApplyState(DCB& dcb, const LineSettings& settings);
// Reads return at once with what has arrived, or after 20 ms without a byte;
// each write gets 20 ms in all.
COMMTIMEOUTS ReadoutTimeouts();

// Wine on a pseudo-terminal (the simulated meter's) fails every SetCommState
// that finds nothing to change but the character format, because the terminal
// stays 8N1 and the C library then reports the request as refused; the rate,
// written first, has already been taken. That refusal, and no other, is a
// line that works: the rate reads back as asked, 8N1 where 7E1 was asked.
bool PseudoTerminalRefusal(bool underWine, const DCB& wanted, const DCB& reported);

// The system's text for an error code of GetLastError, without the line break.
std::string SystemErrorText(DWORD error);

} // namespace varnel
