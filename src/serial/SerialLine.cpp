#include "serial/SerialLine.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "core/View.h"

#include <limits>

namespace varnel {

namespace {

// IEC 62056-21's character format, 7E1 (or 8N1), at the given rate.
void SetCharacterFormat(LineSettings& s, std::int32_t baudRate, bool eightBits)
{
    s.baudRate = baudRate;
    s.byteSize = eightBits ? 8 : 7;
    s.parity = eightBits ? Parity::None : Parity::Even;
    s.stopBits = StopBits::One;
}

} // namespace

SerialLine::SerialLine(Port& port, Clock& clock, View& view, const PortNames& names)
    : m_port(port),
      m_clock(clock),
      m_view(view),
      m_names(names)
{
}

std::string SerialLine::PortName() const
{
    if (!m_deviceOverride.empty())
        return m_deviceOverride;
    return "COM" + std::to_string(static_cast<long long>(m_portIndex) + 1);
}

int SerialLine::OpenPort()
{
    ClosePort();

    // The index comes unchecked from the settings file: no overflow past INT_MAX.
    const long long number = static_cast<long long>(m_portIndex) + 1;
    if (!m_deviceOverride.empty())
        m_device = m_deviceOverride;
    else
        m_device =
            number <= std::numeric_limits<int>::max() ? m_names.DeviceFor(static_cast<int>(number)) : "";
    m_openError.clear();
    if (m_device.empty()) {
        m_openError = "no device is known for " + PortName();
        return 1;
    }

    // A fresh record (no flow control), then the character format of the
    // protocol and static RTS/DTR levels from the boxes.
    LineSettings s;
    SetCharacterFormat(s, m_baudRate, m_eightBits);
    s.rtsControl = m_view.IsChecked(IDC_RTS) ? LineControl::Enable : LineControl::Disable;
    s.dtrControl = m_view.IsChecked(IDC_DTR) ? LineControl::Enable : LineControl::Disable;

    if (!m_port.Open(m_device, s, m_testMode == 1)) {
        m_openError = m_port.LastError();
        return 1;
    }
    m_open = true;
    m_reported = s;

    if (m_testMode == 1)
        m_port.SetBreak(m_breakOn == 1);
    return 0;
}

void SerialLine::ClosePort()
{
    if (m_open)
        m_port.Close();
    m_open = false;
}

void SerialLine::ApplyPortSettings()
{
    if (!m_open)
        return;
    LineSettings s = m_reported;
    SetCharacterFormat(s, m_baudRate, m_eightBits);
    // An unchecked box leaves its line as it was last written.
    if (m_view.IsChecked(IDC_RTS))
        s.rtsControl = LineControl::Enable;
    if (m_view.IsChecked(IDC_DTR))
        s.dtrControl = LineControl::Enable;
    if (m_port.Apply(s))
        m_reported = s;
}

void SerialLine::Transmit(const std::uint8_t* bytes, std::int32_t count)
{
    if (count < 0)
        count = 0;
    if (m_sink)
        m_sink->LogSentBytes(bytes, count);
    if (!m_open)
        return;
    for (std::int32_t i = 0; i < count; ++i) {
        if (i > 0)
            m_clock.Sleep(kTransmitPacing);
        m_port.Write(bytes + i, 1);
    }
}

std::size_t SerialLine::Read(std::uint8_t* buffer, std::size_t max)
{
    if (!m_open)
        return 0;
    std::size_t n = m_port.Read(buffer, max);
    if (n > max)
        return 0;
    if (!m_eightBits)
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] &= 0x7F;
    return n;
}

void SerialLine::Purge()
{
    if (m_open)
        m_port.Purge();
}

void SerialLine::WriteDirect(const std::uint8_t* bytes, std::size_t count)
{
    if (m_open)
        m_port.Write(bytes, count);
}

void SerialLine::SetBreak(bool on)
{
    if (m_open)
        m_port.SetBreak(on);
}

void SerialLine::SetRts(bool on)
{
    if (m_open)
        m_port.SetRts(on);
}

void SerialLine::SetDtr(bool on)
{
    if (m_open)
        m_port.SetDtr(on);
}

BreakSeen SerialLine::TakeBreakSeen()
{
    return m_open ? m_port.TakeBreakSeen() : BreakSeen::No;
}

} // namespace varnel
