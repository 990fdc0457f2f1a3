#pragma once

#include "MeterProtocol.h"

#include <chrono>
#include <string>
#include <vector>

namespace varnel::sim {

// A push meter (IEC 62056-21 mode D, DSMR P1): it never waits for a request
// and sends its data as a telegram (identification, blank line, data lines,
// "!" line; a last line starting with "!" such as P1's "!" and CRC is kept as
// the end line), `period` after the end of the last one, optionally framed by
// STX ... ETX and the block check byte. With `crc` (or the bad-crc fault) the
// end line is P1's "!" and the CRC-16 of the telegram from "/" up to it.
class PushMeter final : public MeterSide {
public:
    PushMeter(const MeterConfig& config, std::chrono::milliseconds period, bool stx, bool crc = false);

    void Receive(const std::uint8_t*, std::size_t, SimTime, int) override {}
    std::string TakeOutput(SimTime now, int lineBaud) override;
    std::optional<SimTime> NextDue() const override;
    bool TakeHangup() override { return false; }
    std::vector<ReadoutReport> TakeReports() override;
    void Abort(const std::string& outcome) override;

    const std::string& Telegram() const { return m_telegram; }

private:
    SimTime ByteTime() const;

    std::string m_telegram;
    std::string m_identification;
    SimTime m_period;
    bool m_pace;
    int m_defaultBaud;
    int m_lastBaud = 0;
    bool m_started = false;
    std::size_t m_pos = 0;
    SimTime m_next{}; // when the next byte is due
    std::vector<ReadoutReport> m_done;
};

// One record of a capture written by varnel-read --capture.
struct CaptureRecord {
    SimTime at;
    bool fromReader = false; // ">": sent by the reader; "<": received from the meter
    std::string bytes;
};

enum class CaptureLoad { Ok, Unreadable, Damaged };
// Reads a capture; `error` says why not, for a damaged one as "FILE:LINE: reason".
CaptureLoad LoadCapture(const std::string& path, std::vector<CaptureRecord>& records, std::string& error);

// Answers a reader with the meter's bytes of a capture at their captured
// times, each counted from the reader's message before it, which it waits for
// as captured. After the last record it waits for the first again.
class ReplayMeter final : public MeterSide {
public:
    explicit ReplayMeter(std::vector<CaptureRecord> records);

    void Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud) override;
    std::string TakeOutput(SimTime now, int lineBaud) override;
    std::optional<SimTime> NextDue() const override;
    bool TakeHangup() override { return false; }
    std::vector<ReadoutReport> TakeReports() override;
    void Abort(const std::string& outcome) override;

private:
    void Advance(SimTime now);

    std::vector<CaptureRecord> m_records;
    std::size_t m_index = 0;
    std::size_t m_matched = 0; // bytes of the awaited reader record seen so far
    bool m_started = false;
    SimTime m_anchorNow{}; // when the last awaited reader record was complete
    SimTime m_anchorAt{};  // and its captured time
    ReadoutReport m_report;
    std::vector<ReadoutReport> m_done;
};

} // namespace varnel::sim
