#pragma once

#include "serial/Port.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace varnel::test {

class FakeClock;

// A scripted peer: records every call in order (as text, for readable
// assertions), delivers queued bytes to reads and can fail any call.
class FakePort final : public Port {
public:
    explicit FakePort(FakeClock* clock = nullptr) : m_clock(clock) {}

    bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) override;
    void Close() override;
    bool Apply(const LineSettings& settings) override;
    std::size_t Write(const std::uint8_t* data, std::size_t count) override;
    std::size_t Read(std::uint8_t* data, std::size_t max) override;
    bool Purge() override;
    bool SetBreak(bool on) override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    BreakSeen TakeBreakSeen() override;
    std::string LastError() const override { return lastError; }

    // Bytes the peer sends; reads take them in order.
    void Feed(const std::string& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
    void Feed(const std::vector<std::uint8_t>& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
    // Calls whose text starts with `prefix`.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
    static std::string Describe(const LineSettings& s);

    // Failure switches.
    bool failOpen = false;
    bool failApply = false;
    bool failBreak = false;
    BreakSeen breakSeen = BreakSeen::No;
    std::string lastError;

    // State seen by the peer.
    bool open = false;
    std::string device;
    LineSettings settings;
    std::vector<std::uint8_t> written;
    // Tick count at each written byte (when a clock is attached).
    std::vector<std::uint32_t> writeTimes;
    std::vector<std::string> calls;
    std::deque<std::uint8_t> incoming;
    std::size_t readCalls = 0;
    // Called after every write with the whole message written so far.
    std::function<void(FakePort&)> onWrite;

private:
    FakeClock* m_clock;
};

} // namespace varnel::test
