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
        const auto b = static_cast<char>(in.ConsumeIntegral<std::uint8_t>());
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: expected += b, sent += sim::TelnetEncode(std::string(1, b)); break;
        case 1:
            sent += std::string("\xFF") + static_cast<char>(0xF1 + static_cast<std::uint8_t>(b) % 9);
            break;
        case 2:
            sent += std::string("\xFF") + static_cast<char>(0xFB + static_cast<std::uint8_t>(b) % 4) + b;
            break;
        default:
            sent += "\xFF\xFA" + sim::TelnetEncode(std::string(1, b) + in.ConsumeRandomLengthString(8))
                    + "\xFF\xF0";
        }
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(sent.data());
    sim::TelnetDecoder decoder;
    std::string out;
    for (std::size_t at = 0; at < sent.size();) {
        const std::size_t read = std::min<std::size_t>(sent.size() - at, 1 + sent.size() % 7 + at % 5);
        decoder.Decode(bytes + at, read, out);
        at += read;
    }
    FUZZ_CHECK(out == expected);
    return 0;
}
