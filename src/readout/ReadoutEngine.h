#pragma once

#include "readout/BlockCheck.h"
#include "serial/SerialLine.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace varnel {

class Clock;
class ResultLog;
class View;

enum ReadoutState : std::int32_t {
    READ_IDLE = 0,
    READ_AWAIT_IDENT = 1,
    READ_AWAIT_STX = 2,
    READ_DATA = 3,
    READ_AWAIT_BCC = 4,
    READ_COMMAND_ID = 5,
    READ_COMMAND_TYPE = 6,
};

// How the last readout came back to idle.
enum class ReadoutEnd { None, BlockCheck, TimeOut };

constexpr std::chrono::milliseconds kReceivePeriod{50};
constexpr std::chrono::milliseconds kSilenceTimeout{3000};
constexpr std::chrono::milliseconds kAckSettle{40};
constexpr std::chrono::milliseconds kOpenSettle{50};
// Chunks of kReadChunk bytes read per receive tick at most; enough for 57600 bit/s
// with a tick that runs late, and bounded so that a babbling line cannot
// starve the window.
constexpr int kMaxChunksPerTick = 64;

// After the acknowledgement on a link that cannot switch the meter's line.
inline constexpr const char* kRateFixedRow = " -- Rate fixed by the link -- ";

// The IEC 62056-21 readout-mode state machine, driven by the receive timer.
class ReadoutEngine {
public:
    ReadoutEngine(SerialLine& serial, ResultLog& rows, View& view, Clock& clock);

    void StartReadout();
    // The device address the next sign-on request carries; empty for none.
    // The caller has checked it (IsValidDeviceAddress).
    void SetAddress(const std::string& address);
    void OnReceiveTick();

    ReadoutState State() const { return m_state; }
    ReadoutEnd LastEnd() const { return m_lastEnd; }
    // The block check of the last readout's block; None until an STX block has ended.
    BlockCheckResult LastBlockCheck() const { return m_lastCheck; }
    bool BreakPending() const { return m_breakPending != 0; }

private:
    // Returns false when a line overflow ends the tick.
    bool ProcessByte(std::uint8_t b);
    void HandleIdentification();
    void HandleDataLine();
    std::string LineText() const;
    // A line that is byte for byte the request just sent: a half-duplex
    // probe's echo of it, not the identification.
    bool IsEchoOfRequest() const;
    // A frame's first byte: its row, the state that reads the frame, an empty line.
    void StartFrame(const char* row, ReadoutState next);
    void BackToIdle(ReadoutEnd end);
    // The readout's last row where the port checks parity itself: the count of
    // bytes with a wrong parity bit since the readout began.
    void ReportParityErrors();

    SerialLine& m_serial;
    ResultLog& m_rows;
    View& m_view;
    Clock& m_clock;

    ReadoutState m_state = READ_IDLE;
    std::int32_t m_rxCount = 0;
    std::uint8_t m_lineBuf[1000] = {};
    std::uint8_t m_readBuf[kReadChunk] = {};
    std::uint32_t m_deadline = 0;
    int m_breakPending = 0;
    std::uint8_t m_commandId = 0;
    ReadoutEnd m_lastEnd = ReadoutEnd::None;
    BlockCheckResult m_lastCheck = BlockCheckResult::None;
    bool m_checkBlock = false; // an STX opened the block: its check byte is verified
    std::uint8_t m_bcc = 0;    // of the block's bytes processed so far
    std::string m_request;
};

} // namespace varnel
