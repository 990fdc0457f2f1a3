#pragma once

#include "FakeClock.h"
#include "serial/Port.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace varnel::test {

// A scripted peer: records each call as text, feeds queued bytes to reads, can fail opening.
class FakePort final : public Port {
public:
    explicit FakePort(FakeClock* clock = nullptr) : m_clock(clock) {}

    bool Open(const std::string& dev, const LineSettings& s, bool forLineTest) override
    {
        calls.push_back("open " + dev + " " + Describe(s) + (forLineTest ? " linetest" : ""));
        open = !failOpen;
        if (open)
            device = dev;
        return open;
    }
    void Close() override
    {
        Call("close");
        open = false;
    }
    bool Apply(const LineSettings& s) override { return Call("apply " + Describe(s)); }
    std::size_t Write(const std::uint8_t* data, std::size_t count) override
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string text = "write";
        for (std::size_t i = 0; i < count; ++i)
            text += {' ', kHex[data[i] >> 4], kHex[data[i] & 15]};
        written.insert(written.end(), data, data + count);
        if (m_clock)
            writeTimes.insert(writeTimes.end(), count, m_clock->now);
        return Call(text) ? count : 0;
    }
    std::size_t Read(std::uint8_t* data, std::size_t max) override
    {
        std::size_t n = 0;
        for (; n < max && !incoming.empty(); incoming.pop_front())
            data[n++] = incoming.front();
        return n;
    }
    bool Purge() override { return Call("purge"); }
    bool SetBreak(bool on) override { return Call(on ? "break on" : "break off"); }
    bool SetRts(bool on) override { return Call(on ? "rts on" : "rts off"); }
    bool SetDtr(bool on) override { return Call(on ? "dtr on" : "dtr off"); }
    BreakSeen TakeBreakSeen() override
    {
        Call("breakseen");
        return breakSeen == BreakSeen::Yes ? std::exchange(breakSeen, BreakSeen::No) : breakSeen;
    }
    std::string LastError() const override { return "No such file or directory"; } // of a failed open

    void Feed(const std::string& b) { incoming.insert(incoming.end(), b.begin(), b.end()); }
    void Feed(const std::vector<std::uint8_t>& b) { incoming.insert(incoming.end(), b.begin(), b.end()); }
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0)
                out.push_back(c);
        return out;
    }
    static std::string Describe(const LineSettings& s)
    {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%d %d%c%s rts=%d dtr=%d flow=%d%d%d%d%d%d%d", s.baudRate, s.byteSize,
                      "NOEMS"[static_cast<int>(s.parity) % 5],
                      s.stopBits == StopBits::One ? "1" : (s.stopBits == StopBits::Two ? "2" : "1.5"),
                      static_cast<int>(s.rtsControl), static_cast<int>(s.dtrControl), s.outxCtsFlow,
                      s.outxDsrFlow, s.dsrSensitivity, s.txContinueOnXoff, s.outX, s.inX, s.null);
        return buf;
    }

    bool failOpen = false;
    BreakSeen breakSeen = BreakSeen::No;
    bool open = false;
    std::string device;
    std::vector<std::uint8_t> written;
    std::vector<std::uint32_t> writeTimes; // tick count at each written byte, with a clock
    std::vector<std::string> calls;
    std::deque<std::uint8_t> incoming;

private:
    bool Call(std::string text)
    {
        calls.push_back(std::move(text));
        return true;
    }

    FakeClock* m_clock;
};

} // namespace varnel::test
