#pragma once

#include "readout/BlockCheck.h"
#include "serial/SerialLine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace varnel {

class Clock;
class ResultLog;
class View;

// Push meters (eHZ, DSMR P1) send a telegram every 1 to 10 s; silence beyond
// this means the meter is not sending.
constexpr std::chrono::milliseconds kPushSilence{15000};

// Reads the telegrams a push meter (IEC 62056-21 mode D, DSMR P1) sends
// unasked: identification line, blank line, data lines, "!" line (P1: "!" and
// its CRC), optionally framed by STX ... ETX and a block check byte. Each
// telegram gives the rows and labels a readout gives, its block check and CRC
// verified. Nothing is sent.
class TelegramReader {
public:
    TelegramReader(SerialLine& serial, ResultLog& rows, View& view, Clock& clock);

    // Opens the port at `baudRate` in the line's character format, starts
    // the log and the receive timer. Bytes after the `count`th telegram are
    // left unread, so that the rows hold exactly `count` telegrams; 0 reads on.
    void Start(std::int32_t baudRate, int count);
    void OnReceiveTick();

    int Telegrams() const { return m_telegrams; }
    bool TimedOut() const { return m_timedOut; }
    bool Done() const { return m_count > 0 && m_telegrams >= m_count; }
    // Reads no further than the end of the telegram in progress.
    void StopAfterTelegram() { m_count = m_telegrams + 1; }
    // An identification or an STX has come and the telegram's end not yet.
    bool InTelegram() const { return m_inTelegram || m_framed; }

    // Called as each telegram ends, with what its BCC and CRC showed.
    std::function<void(BlockCheckResult)> onTelegramEnd;

private:
    void ProcessByte(std::uint8_t b);
    void HandleLine();
    void EndTelegram();
    void NoteCheck(bool ok);

    SerialLine& m_serial;
    ResultLog& m_rows;
    View& m_view;
    Clock& m_clock;

    std::string m_line;
    std::uint8_t m_readBuf[kReadChunk] = {};
    std::uint32_t m_deadline = 0;
    bool m_inTelegram = false; // identification seen
    bool m_afterIdent = false; // the blank line after it is still to come
    bool m_framed = false;     // opened by STX
    bool m_awaitEtx = false;   // "!" line of a framed telegram seen
    bool m_awaitBcc = false;
    std::uint8_t m_bcc = 0;     // after STX so far
    std::uint16_t m_crc = 0;    // from the identification's "/" so far
    bool m_crcComplete = false; // the end line's "!" is in it
    BlockCheckResult m_check = BlockCheckResult::None;
    int m_telegrams = 0;
    int m_count = 1;
    bool m_timedOut = false;
};

} // namespace varnel
