#pragma once

#include <chrono>
#include <cstdint>

namespace varnel {

// The time seam: a 32-bit millisecond tick count that wraps like the platform's,
// and a blocking sleep. Tests substitute a clock whose sleep advances time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t TickCount() override;
    void Sleep(std::chrono::milliseconds duration) override;
};

} // namespace varnel
