#pragma once

#include "MeterProtocol.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <fcntl.h>

// What the meter's transports share: their time and their descriptors.
namespace varnel::sim::posix {

inline SimTime Now()
{
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now().time_since_epoch());
}

inline std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Non-blocking and closed on exec.
inline bool SetFlags(int fd)
{
    const int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace varnel::sim::posix
