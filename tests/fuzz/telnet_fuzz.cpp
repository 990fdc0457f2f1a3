// Data through the simulator's telnet framing, with commands, option negotiation and subnegotiations
// between its bytes and reads split anywhere: decoding gives the data back, and no command byte leaks in.
#include "FuzzSupport.h"

#include "Telnet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    FuzzedDataProvider in(data, size);
    std::string sent, expected;
    while (in.remaining_bytes() > 1) {
        const auto u = in.ConsumeIntegral<std::uint8_t>();
        const auto b = static_cast<char>(u);
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: expected += b, sent += sim::TelnetEncode(std::string(1, b)); break;
        case 1: sent += {'\xFF', static_cast<char>(0xF1 + u % 9)}; break;
        case 2: sent += {'\xFF', static_cast<char>(0xFB + u % 4), b}; break;
        default: sent += "\xFF\xFA" + sim::TelnetEncode(b + in.ConsumeRandomLengthString(8)) + "\xFF\xF0";
        }
    }
    sim::TelnetDecoder decoder;
    std::string out;
    for (std::size_t at = 0, read; at < sent.size(); at += read) {
        read = std::min<std::size_t>(sent.size() - at, 1 + sent.size() % 7 + at % 5);
        decoder.Decode(reinterpret_cast<const std::uint8_t*>(sent.data()) + at, read, out);
    }
    FUZZ_CHECK(out == expected);
    return 0;
}
