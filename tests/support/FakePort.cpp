#include "FakePort.h"

#include "FakeClock.h"

#include <cstdio>

namespace varnel::test {

std::string FakePort::Describe(const LineSettings& s)
{
    static const char* parity = "NOEMS";
    char buf[160];
    std::snprintf(buf, sizeof buf, "%d %d%c%s rts=%d dtr=%d flow=%d%d%d%d%d%d%d", s.baudRate, s.byteSize,
                  parity[static_cast<int>(s.parity) % 5],
                  s.stopBits == StopBits::One ? "1" : (s.stopBits == StopBits::Two ? "2" : "1.5"),
                  static_cast<int>(s.rtsControl), static_cast<int>(s.dtrControl), s.outxCtsFlow,
                  s.outxDsrFlow, s.dsrSensitivity, s.txContinueOnXoff, s.outX, s.inX, s.null);
    return buf;
}

bool FakePort::Open(const std::string& dev, const LineSettings& s, bool forLineTest)
{
    calls.push_back("open " + dev + " " + Describe(s) + (forLineTest ? " linetest" : ""));
    if (failOpen) {
        if (lastError.empty())
            lastError = "No such file or directory";
        return false;
    }
    open = true;
    device = dev;
    settings = s;
    return true;
}

void FakePort::Close()
{
    calls.push_back("close");
    open = false;
}

bool FakePort::Apply(const LineSettings& s)
{
    calls.push_back("apply " + Describe(s));
    if (failApply)
        return false;
    settings = s;
    return true;
}

std::size_t FakePort::Write(const std::uint8_t* data, std::size_t count)
{
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
        hex += b;
        written.push_back(data[i]);
        if (m_clock)
            writeTimes.push_back(m_clock->now);
    }
    calls.push_back("write " + hex);
    if (onWrite)
        onWrite(*this);
    return count;
}

std::size_t FakePort::Read(std::uint8_t* data, std::size_t max)
{
    ++readCalls;
    std::size_t n = 0;
    while (n < max && !incoming.empty()) {
        data[n++] = incoming.front();
        incoming.pop_front();
    }
    return n;
}

bool FakePort::Purge()
{
    calls.push_back("purge");
    return true;
}

bool FakePort::SetBreak(bool on)
{
    calls.push_back(on ? "break on" : "break off");
    return !failBreak;
}

bool FakePort::SetRts(bool on)
{
    calls.push_back(on ? "rts on" : "rts off");
    return true;
}

bool FakePort::SetDtr(bool on)
{
    calls.push_back(on ? "dtr on" : "dtr off");
    return true;
}

BreakSeen FakePort::TakeBreakSeen()
{
    calls.push_back("breakseen");
    const BreakSeen r = breakSeen;
    if (r == BreakSeen::Yes)
        breakSeen = BreakSeen::No;
    return r;
}

std::vector<std::string> FakePort::CallsStartingWith(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0)
            out.push_back(c);
    return out;
}

} // namespace varnel::test
