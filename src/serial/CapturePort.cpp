#include "serial/CapturePort.h"

#include "core/Clock.h"

#include <cerrno>
#include <cstring>

namespace varnel {

CapturePort::CapturePort(Port& inner, Clock& clock) : m_inner(inner), m_clock(clock) {}

CapturePort::~CapturePort()
{
    if (m_file)
        std::fclose(m_file);
}

bool CapturePort::OpenFile(const std::string& path, std::string& error)
{
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::fputs("# varnel capture: ms, < received or > sent, bytes in hex\n", m_file);
    std::fflush(m_file);
    m_start = m_clock.TickCount();
    return true;
}

std::size_t CapturePort::Write(const std::uint8_t* data, std::size_t count)
{
    const std::size_t n = m_inner.Write(data, count);
    Record('>', data, n);
    return n;
}

std::size_t CapturePort::Read(std::uint8_t* data, std::size_t max)
{
    const std::size_t n = m_inner.Read(data, max);
    Record('<', data, n <= max ? n : 0);
    return n;
}

void CapturePort::Record(char direction, const std::uint8_t* data, std::size_t count)
{
    if (!m_file || count == 0)
        return;
    std::fprintf(m_file, "%u %c", static_cast<unsigned>(m_clock.TickCount() - m_start), direction);
    for (std::size_t i = 0; i < count; ++i)
        std::fprintf(m_file, " %02X", data[i]);
    std::fputc('\n', m_file);
    // Flushed per record: a capture of a readout that hangs or crashes is
    // exactly what the lab needs.
    std::fflush(m_file);
}

} // namespace varnel
