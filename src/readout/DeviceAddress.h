#pragma once

#include <string>

namespace varnel {

constexpr std::size_t kMaxDeviceAddressLength = 32;

// A device address as IEC 62056-21 allows it in a request: 1 to 32 digits,
// letters and blanks.
inline bool IsValidDeviceAddress(const std::string& address)
{
    if (address.empty() || address.size() > kMaxDeviceAddressLength)
        return false;
    for (const char c : address) {
        const bool ok =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ';
        if (!ok)
            return false;
    }
    return true;
}

// The sign-on request "/?" [address] "!" CR LF.
inline std::string SignOnRequest(const std::string& address)
{
    return "/?" + address + "!\r\n";
}

} // namespace varnel
