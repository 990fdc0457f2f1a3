#pragma once

#include "core/Clock.h"

#include <cstdint>
#include <vector>

namespace varnel::test {

// Time moves only when the code under test sleeps or the test advances it.
class FakeClock final : public Clock {
public:
    std::uint32_t TickCount() override { return now; }
    void Sleep(std::chrono::milliseconds d) override
    {
        sleeps.push_back(static_cast<int>(d.count()));
        now += static_cast<std::uint32_t>(d.count());
    }
    // 2025-01-01T00:00:00Z plus the tick count.
    std::int64_t UtcMilliseconds() override { return 1735689600000 + now; }
    void Advance(std::uint32_t ms) { now += ms; }

    std::uint32_t now = 1000;
    std::vector<int> sleeps;
};

} // namespace varnel::test
