#include "readout/TelegramReader.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "core/View.h"
#include "readout/LineText.h"
#include "readout/ReadoutEngine.h"
#include "readout/ResultLog.h"

namespace varnel {

namespace {

// As the readout's line buffer: a longer line is shown as its first 999 bytes.
constexpr std::size_t kMaxLine = 999;

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
    if (!m_serial.IsOpen() || m_timedOut || m_telegrams >= m_count)
        return;
    if (static_cast<std::int32_t>(m_clock.TickCount() - m_deadline) > 0) {
        m_rows.AddRow(" -- Tout -- ", false);
        m_timedOut = true;
        return;
    }
    // As the readout's drain: until a short read has taken all there was.
    for (int chunk = 0; chunk < kMaxChunksPerTick; ++chunk) {
        const std::size_t n = m_serial.Read(m_readBuf, sizeof m_readBuf);
        for (std::size_t i = 0; i < n && m_telegrams < m_count; ++i)
            ProcessByte(m_readBuf[i]);
        if (n > 0)
            m_deadline = m_clock.TickCount() + static_cast<std::uint32_t>(kPushSilence.count());
        if (n < sizeof m_readBuf || m_telegrams >= m_count)
            return;
    }
}

void TelegramReader::ProcessByte(std::uint8_t b)
{
    if (m_awaitBcc) {
        m_rows.AddRow(" -- BCC -- ", false);
        EndTelegram();
        return;
    }
    if (b == STX && !m_inTelegram && m_line.empty()) {
        m_rows.AddRow(" -- STX -- ", false);
        m_framed = true;
        return;
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
        if (m_framed)
            m_awaitEtx = true;
        else
            EndTelegram();
    }
}

void TelegramReader::EndTelegram()
{
    ++m_telegrams;
    m_inTelegram = m_afterIdent = m_framed = m_awaitEtx = m_awaitBcc = false;
}

} // namespace varnel
