#include "readout/ReadoutEngine.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "core/View.h"
#include "readout/BlockCheck.h"
#include "readout/DeviceAddress.h"
#include "readout/LineText.h"
#include "readout/ResultLog.h"
#include "serial/SerialLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace varnel {

namespace {

constexpr std::uint8_t NAK = 0x15;

std::int32_t ModeBRate(std::uint8_t z)
{
    static constexpr std::int32_t rates[] = {600, 1200, 2400, 4800, 9600, 19200};
    return z - 'A' < 6 ? rates[z - 'A'] : 300;
}

std::int32_t ModeCRate(std::uint8_t z)
{
    static constexpr std::int32_t rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200};
    return z - '0' < 7 ? rates[z - '0'] : 300;
}

// An item text of a baud combo as a rate; the combos only hold decimal numbers
// beyond their first item, so anything else means the protocol's 300.
std::int32_t RateFromItem(const std::string& text)
{
    const long v = std::strtol(text.c_str(), nullptr, 10);
    return v > 0 && v <= 10'000'000 ? static_cast<std::int32_t>(v) : 300;
}

std::string Hex(const char* format, std::uint8_t b)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, format, b);
    return buf;
}

} // namespace

ReadoutEngine::ReadoutEngine(SerialLine& serial, ResultLog& rows, View& view, Clock& clock)
    : m_serial(serial),
      m_rows(rows),
      m_view(view),
      m_clock(clock),
      m_request(SignOnRequest(""))
{
}

void ReadoutEngine::SetAddress(const std::string& address)
{
    m_request = SignOnRequest(address);
}

void ReadoutEngine::StartReadout()
{
    m_rows.ClearRows();
    m_view.SetControlText(IDC_PROTOCOL_LABEL, "?");
    m_view.SetControlText(IDC_FLAG_LABEL, "?");
    m_view.SetControlText(IDC_DESCRIPTION_LABEL, "?");
    m_rxCount = 0;
    m_state = READ_AWAIT_IDENT;
    m_lastEnd = ReadoutEnd::None;
    m_lastCheck = BlockCheckResult::None;

    const int selection = m_view.ComboSelection(IDC_INITIAL_BAUD);
    const std::string item = m_view.ComboItemText(IDC_INITIAL_BAUD, selection);
    m_view.SetControlText(IDC_BAUD_LABEL, item);
    m_serial.m_baudRate = selection == 0 ? 300 : RateFromItem(item);

    m_serial.ClosePort();
    if (m_serial.OpenPort() != 0)
        m_view.ShowMessage(kOpenPortError, MessageIcon::Stop);
    m_serial.ApplyPortSettings();
    m_clock.Sleep(kOpenSettle);
    m_rows.OpenLog();
    m_serial.Purge();
    m_serial.Transmit(reinterpret_cast<const std::uint8_t*>(m_request.data()),
                      static_cast<std::int32_t>(m_request.size()));
    m_view.StartTimer(TIMER_RECEIVE, kReceivePeriod);
    m_deadline = m_clock.TickCount() + static_cast<std::uint32_t>(kSilenceTimeout.count());
}

void ReadoutEngine::OnReceiveTick()
{
    if (!m_serial.IsOpen())
        return;

    // Compared modulo 2^32, so the tick count's wrap after 49.7 days neither
    // ends a readout at once nor keeps it waiting for weeks.
    const auto late = static_cast<std::int32_t>(m_clock.TickCount() - m_deadline);
    if (m_state != READ_IDLE && late > 0) {
        m_rows.AddRow(" -- Tout -- ", false);
        m_rxCount = 0;
        BackToIdle(ReadoutEnd::TimeOut);
        ReportParityErrors();
    }

    // Drain what has arrived: at 38400 bit/s and more, one 100-byte read per
    // 50 ms tick would fall behind the line without bound. A short read has
    // taken all there was; reading on would chase bytes that trickle in one at
    // a time, a poll and a read each, for nothing the next tick cannot take.
    for (int chunk = 0; chunk < kMaxChunksPerTick; ++chunk) {
        const std::size_t n = m_serial.Read(m_readBuf, sizeof m_readBuf);
        for (std::size_t i = 0; i < n; ++i)
            if (!ProcessByte(m_readBuf[i]))
                return;
        if (n < sizeof m_readBuf)
            return;
    }
}

bool ReadoutEngine::ProcessByte(std::uint8_t b)
{
    m_lineBuf[m_rxCount++] = b;
    if (m_rxCount > 999) {
        m_lineBuf[999] = 0;
        m_rows.AddRow(reinterpret_cast<const char*>(m_lineBuf), false);
        m_rxCount = 0;
        return false;
    }
    // Only the bytes the rows are made from: bytes an overflow drops make the check fail, as they should.
    if (m_state == READ_DATA)
        m_bcc ^= b;

    [&] {
        if (m_state == READ_AWAIT_STX) {
            if (b == STX) {
                StartFrame(" -- STX -- ", READ_DATA);
                return;
            }
            m_rows.AddRow(Hex("--- 0x%02X ---", b), false);
        }
        if (m_state == READ_IDLE) {
            switch (b) {
            case SOH: StartFrame(" -- SOH -- ", READ_COMMAND_ID); return;
            case STX: StartFrame(" -- STX -- ", READ_DATA); return;
            case ETX: m_rows.AddRow(" -- 03 --", false); break;
            case EOT: m_rows.AddRow(" -- 04 --", false); break;
            case NAK: m_rows.AddRow(" -- 15 --", false); break;
            default: break;
            }
        }
        if (m_state == READ_AWAIT_IDENT && b == LF) {
            if (IsEchoOfRequest()) {
                m_rows.AddRow(LineText(), false);
                m_rxCount = 0;
                return;
            }
            HandleIdentification();
            return;
        }
        if (m_state == READ_DATA) {
            if (b == LF)
                HandleDataLine();
            if (b == ETX || b == EOT) {
                m_state = READ_AWAIT_BCC;
                m_rows.AddRow(b == ETX ? " -- ETX -- " : " -- EOT -- ", false);
                return;
            }
        }
        if (m_state == READ_AWAIT_BCC) {
            BackToIdle(ReadoutEnd::BlockCheck);
            m_rows.AddRow(" -- BCC -- ", false);
            if (std::exchange(m_checkBlock, false)) {
                const bool ok = ((b ^ m_bcc) & 0x7F) == 0;
                m_lastCheck = ok ? BlockCheckResult::Ok : BlockCheckResult::Error;
                if (!ok)
                    m_rows.AddRow(BlockCheckErrorRow(b, m_bcc), false);
            }
            m_rxCount = 0;
            if (m_breakPending) {
                m_rows.AddRow(" -- Send break message -- ", false);
                m_breakPending = 0;
                static constexpr std::uint8_t body[] = {'B', '0', ETX};
                const std::uint8_t reply[] = {SOH, 'B', '0', ETX, BlockCheck(body, sizeof body)};
                m_serial.WriteDirect(reply, sizeof reply);
            }
            ReportParityErrors();
        }
        if (m_state == READ_COMMAND_ID) {
            m_state = READ_COMMAND_TYPE;
            m_commandId = b;
            return;
        }
        if (m_state == READ_COMMAND_TYPE) {
            m_state = READ_IDLE;
            m_rxCount = 0;
            if (m_commandId == 'B' && b == '0') {
                m_state = READ_AWAIT_BCC;
                m_rows.AddRow(" -- Break message is received  -- ", false);
                m_breakPending = 1;
            } else if (m_commandId == 'P' && b == '0') {
                m_rows.AddRow(" -- Password is required -- ", false);
            }
        }
    }();

    m_deadline = m_clock.TickCount() + static_cast<std::uint32_t>(kSilenceTimeout.count());
    return true;
}

std::string ReadoutEngine::LineText() const
{
    return varnel::LineText(m_lineBuf, static_cast<std::size_t>(m_rxCount));
}

bool ReadoutEngine::IsEchoOfRequest() const
{
    return static_cast<std::size_t>(m_rxCount) == m_request.size()
           && std::memcmp(m_lineBuf, m_request.data(), m_request.size()) == 0;
}

void ReadoutEngine::HandleIdentification()
{
    m_view.StopTimer(TIMER_RECEIVE);
    m_state = READ_AWAIT_STX;
    if (m_lineBuf[0] != '/') {
        m_rows.AddRow(" -- Identification error -- ", false);
    } else {
        const std::string line = LineText();
        m_rows.AddRow(line, false);
        // Positions beyond a short line are empty, never bytes of an earlier line.
        const IdentificationFields fields = SplitIdentification(line);
        m_view.SetControlText(IDC_FLAG_LABEL, fields.flag);
        m_view.SetControlText(IDC_DESCRIPTION_LABEL, fields.description);

        const std::uint8_t z = fields.baudChar;
        if (z >= 'A' && z <= 'I') {
            m_serial.m_baudRate = ModeBRate(z);
            m_view.SetControlText(IDC_PROTOCOL_LABEL, "B");
        } else if (z >= '0' && z <= '9') {
            m_serial.m_baudRate = ModeCRate(z);
            const int selection = m_view.ComboSelection(IDC_TRANSMIT_BAUD);
            if (selection > 0)
                m_serial.m_baudRate = RateFromItem(m_view.ComboItemText(IDC_TRANSMIT_BAUD, selection));
            m_view.SetControlText(IDC_BAUD_LABEL, std::to_string(m_serial.m_baudRate));
            m_view.SetControlText(IDC_PROTOCOL_LABEL, "E");
            const std::uint8_t ack[] = {ACK, '0', z, '0', CR, LF};
            m_serial.Transmit(ack, sizeof ack);
            m_clock.Sleep(kAckSettle);
            m_serial.ApplyPortSettings();
            if (!m_serial.RateReachesLine())
                m_rows.AddRow(kRateFixedRow, false);
        } else {
            m_view.SetControlText(IDC_PROTOCOL_LABEL, "A");
            m_serial.m_baudRate = 300;
        }
    }
    m_rxCount = 0;
    m_view.StartTimer(TIMER_RECEIVE, kReceivePeriod);
}

void ReadoutEngine::HandleDataLine()
{
    const std::string text = LineText();
    m_rows.ParseDataLine(text);
    m_rows.AddRow(text, true);
    m_rxCount = 0;
}

void ReadoutEngine::StartFrame(const char* row, ReadoutState next)
{
    m_rows.AddRow(row, false);
    m_state = next;
    m_rxCount = 0;
    m_checkBlock = next == READ_DATA;
    m_bcc = 0;
}

void ReadoutEngine::BackToIdle(ReadoutEnd end)
{
    m_state = READ_IDLE;
    m_lastEnd = end;
}

void ReadoutEngine::ReportParityErrors()
{
    if (const auto errors = m_serial.ParityErrors())
        m_rows.AddRow(" -- Parity errors: " + std::to_string(*errors) + " -- ", false);
}

} // namespace varnel
