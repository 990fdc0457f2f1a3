#include "readout/TelegramReader.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "core/View.h"
#include "readout/LineText.h"
#include "readout/ReadoutEngine.h"
#include "readout/ResultLog.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace varnel {

namespace {

// As the readout's line buffer: a longer line is shown as its first 999 bytes.
constexpr std::size_t kMaxLine = 999;

// A P1 end line: "!" and the telegram's CRC in four hexadecimal digits. Any
// other "!" line (mode D has none) carries nothing to check.
bool CarriesCrc(const std::string& text)
{
    return text.size() == 5 && std::all_of(text.begin() + 1, text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

TelegramReader::TelegramReader(SerialLine& serial, ResultLog& rows, View& view, Clock& clock)
    : m_serial(serial),
      m_rows(rows),
      m_view(view),
      m_clock(clock)
{
}

void TelegramReader::Start(std::int32_t baudRate, int count)
{
    m_count = count;
    m_rows.ClearRows();
    m_view.SetControlText(IDC_BAUD_LABEL, std::to_string(baudRate));
    m_view.SetControlText(IDC_PROTOCOL_LABEL, "D");
    m_view.SetControlText(IDC_FLAG_LABEL, "?");
    m_view.SetControlText(IDC_DESCRIPTION_LABEL, "?");
    m_serial.m_baudRate = baudRate;
    m_serial.ClosePort();
    if (m_serial.OpenPort() != 0)
        m_view.ShowMessage(kOpenPortError, MessageIcon::Stop);
    m_rows.OpenLog();
    m_view.StartTimer(TIMER_RECEIVE, kReceivePeriod);
    m_deadline = m_clock.TickCount() + static_cast<std::uint32_t>(kPushSilence.count());
}

void TelegramReader::OnReceiveTick()
{
    if (!m_serial.IsOpen() || m_timedOut || Done())
        return;
    if (static_cast<std::int32_t>(m_clock.TickCount() - m_deadline) > 0) {
        m_rows.AddRow(" -- Tout -- ", false);
        m_timedOut = true;
        return;
    }
    // As the readout's drain: until a short read has taken all there was.
    for (int chunk = 0; chunk < kMaxChunksPerTick; ++chunk) {
        const std::size_t n = m_serial.Read(m_readBuf, sizeof m_readBuf);
        for (std::size_t i = 0; i < n && !Done(); ++i)
            ProcessByte(m_readBuf[i]);
        if (n > 0)
            m_deadline = m_clock.TickCount() + static_cast<std::uint32_t>(kPushSilence.count());
        if (n < sizeof m_readBuf || Done())
            return;
    }
}

void TelegramReader::ProcessByte(std::uint8_t b)
{
    if (m_awaitBcc) {
        m_rows.AddRow(" -- BCC -- ", false);
        const bool ok = ((b ^ m_bcc) & 0x7F) == 0;
        if (!ok)
            m_rows.AddRow(BlockCheckErrorRow(b, m_bcc), false);
        NoteCheck(ok);
        EndTelegram();
        return;
    }
    if (b == STX && !m_inTelegram && m_line.empty()) {
        m_rows.AddRow(" -- STX -- ", false);
        m_framed = true;
        m_bcc = 0;
        return;
    }
    if (m_framed)
        m_bcc ^= b;
    if (m_inTelegram && !m_crcComplete) {
        m_crc = Crc16Update(m_crc, b);
        m_crcComplete = b == '!' && m_line.empty();
    }
    if (b == ETX && m_awaitEtx) {
        m_rows.AddRow(" -- ETX -- ", false);
        m_awaitBcc = true;
        return;
    }
    m_line += static_cast<char>(b);
    if (b == LF) {
        HandleLine();
        m_line.clear();
    } else if (m_line.size() >= kMaxLine + 1) {
        // Up to a NUL too, as the readout's line text.
        const std::string shown = m_line.substr(0, kMaxLine);
        m_rows.AddRow(shown.substr(0, shown.find('\0')), false);
        m_line.clear();
    }
}

void TelegramReader::HandleLine()
{
    const std::string text = LineText(reinterpret_cast<const std::uint8_t*>(m_line.data()), m_line.size());
    if (!m_inTelegram) {
        // Before the first identification: the rest of a telegram that was
        // under way when the port opened, shown as it came.
        if (!text.empty() && text[0] == '/') {
            m_rows.AddRow(text, false);
            const IdentificationFields fields = SplitIdentification(text);
            m_view.SetControlText(IDC_FLAG_LABEL, fields.flag);
            m_view.SetControlText(IDC_DESCRIPTION_LABEL, fields.description);
            m_inTelegram = true;
            m_afterIdent = true;
            m_crc = 0;
            for (const char c : m_line)
                m_crc = Crc16Update(m_crc, static_cast<std::uint8_t>(c));
            m_crcComplete = false;
        } else if (!text.empty()) {
            m_rows.AddRow(text, false);
        }
        return;
    }
    const bool blankAfterIdent = m_afterIdent && text.empty();
    m_afterIdent = false;
    if (blankAfterIdent)
        return;
    m_rows.ParseDataLine(text);
    m_rows.AddRow(text, true);
    // The end line: "!" alone, or (DSMR P1) "!" and the telegram's CRC.
    if (!text.empty() && text[0] == '!') {
        if (CarriesCrc(text)) {
            const bool ok = m_crcComplete && std::strtoul(text.c_str() + 1, nullptr, 16) == m_crc;
            if (!ok)
                m_rows.AddRow(" -- CRC error -- ", false);
            NoteCheck(ok);
        }
        if (m_framed)
            m_awaitEtx = true;
        else
            EndTelegram();
    }
}

void TelegramReader::NoteCheck(bool ok)
{
    m_check = std::max(m_check, ok ? BlockCheckResult::Ok : BlockCheckResult::Error);
}

void TelegramReader::EndTelegram()
{
    ++m_telegrams;
    m_inTelegram = m_afterIdent = m_framed = m_awaitEtx = m_awaitBcc = false;
    const BlockCheckResult check = std::exchange(m_check, BlockCheckResult::None);
    if (onTelegramEnd)
        onTelegramEnd(check);
}

} // namespace varnel
