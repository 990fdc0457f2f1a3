#include "serial/NetworkAddress.h"

#include <cctype>
#include <string_view>

namespace varnel {

namespace {

constexpr std::string_view kTcp = "tcp://";
constexpr std::string_view kRfc2217 = "rfc2217://";
constexpr const char* kForms = "tcp://HOST:PORT or rfc2217://HOST:PORT, optionally with ?parity=soft";

// Schemes are case-insensitive, as in any URL.
bool HasScheme(const std::string& name, std::string_view scheme)
{
    if (name.size() < scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != scheme[i])
            return false;
    return true;
}

} // namespace

bool IsNetworkPortName(const std::string& name)
{
    return HasScheme(name, kTcp) || HasScheme(name, kRfc2217);
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& name, std::string& error)
{
    const auto fail = [&](const std::string& why) {
        error = why + " (the forms are " + kForms + ")";
        return std::nullopt;
    };
    if (!IsNetworkPortName(name))
        return fail("not a network port");
    NetworkAddress address;
    address.kind = HasScheme(name, kTcp) ? NetworkAddress::Kind::Tcp : NetworkAddress::Kind::Rfc2217;
    std::string rest = name.substr(address.kind == NetworkAddress::Kind::Tcp ? kTcp.size() : kRfc2217.size());
    if (const auto query = rest.find('?'); query != std::string::npos) {
        if (rest.compare(query + 1, std::string::npos, "parity=soft") != 0)
            return fail("unknown option '" + rest.substr(query + 1) + "'");
        address.softParity = true;
        rest.erase(query);
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos)
        return fail("no port number");
    std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return fail("an IPv6 address goes in brackets, as [::1]");
    if (host.empty() || host.find_first_of("[]/@ ") != std::string::npos)
        return fail("no usable host in '" + rest.substr(0, colon) + "'");
    long number = port.empty() || port.size() > 5 ? -1 : 0;
    for (const char c : port)
        if (number >= 0)
            number = std::isdigit(static_cast<unsigned char>(c)) ? number * 10 + (c - '0') : -1;
    if (number < 1 || number > 65535)
        return fail("the port must be a number from 1 to 65535, not '" + port + "'");
    address.host = host;
    address.port = static_cast<std::uint16_t>(number);
    return address;
}

} // namespace varnel
