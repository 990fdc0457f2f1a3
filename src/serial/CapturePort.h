#pragma once

#include "serial/Port.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace varnel {

class Clock;

// A port that records every byte received and sent, with its time, in the
// capture format varnel-meter-sim --replay reads: a "#" header line, then one
// line per read or write: milliseconds since the capture began, "<" received
// or ">" sent, and the bytes as two-digit hexadecimal numbers, separated by
// blanks. Every other call passes straight through.
class CapturePort final : public Port {
public:
    CapturePort(Port& inner, Clock& clock);
    ~CapturePort() override;
    CapturePort(const CapturePort&) = delete;
    CapturePort& operator=(const CapturePort&) = delete;

    // Creates or truncates the file; false with the system's reason in `error`.
    bool OpenFile(const std::string& path, std::string& error);

    bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) override
    {
        return m_inner.Open(device, settings, forLineTest);
    }
    void Close() override { m_inner.Close(); }
    bool Apply(const LineSettings& settings) override { return m_inner.Apply(settings); }
    std::size_t Write(const std::uint8_t* data, std::size_t count) override;
    std::size_t Read(std::uint8_t* data, std::size_t max) override;
    bool Purge() override { return m_inner.Purge(); }
    bool SetBreak(bool on) override { return m_inner.SetBreak(on); }
    bool SetRts(bool on) override { return m_inner.SetRts(on); }
    bool SetDtr(bool on) override { return m_inner.SetDtr(on); }
    BreakSeen TakeBreakSeen() override { return m_inner.TakeBreakSeen(); }
    std::string LastError() const override { return m_inner.LastError(); }
    bool RateReachesLine() const override { return m_inner.RateReachesLine(); }
    std::optional<std::uint32_t> ParityErrors() const override { return m_inner.ParityErrors(); }

private:
    void Record(char direction, const std::uint8_t* data, std::size_t count);

    Port& m_inner;
    Clock& m_clock;
    std::uint32_t m_start = 0;
    std::FILE* m_file = nullptr;
};

} // namespace varnel
