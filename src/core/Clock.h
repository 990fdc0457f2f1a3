#pragma once

#include <chrono>
#include <cstdint>

namespace varnel {

// The time seam: a 32-bit millisecond tick count that wraps like the platform's,
// a blocking sleep, and the time of day for stamping what is printed. Tests
// substitute a clock whose sleep advances time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual std::int64_t UtcMilliseconds() = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t TickCount() override;
    void Sleep(std::chrono::milliseconds duration) override;
    std::int64_t UtcMilliseconds() override;
};

} // namespace varnel
