// The telnet framing between the simulated meter and a virtual machine's
// serial port: a byte lost or invented here is a byte the reader never sent.
#include "Telnet.h"

#include <gtest/gtest.h>

namespace varnel::sim {
namespace {

using namespace std::string_literals;

struct DecodeCase {
    const char* name;
    std::string received;
    std::string data;
};

class TelnetDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(TelnetDecode, KeepsTheDataWhereverTheReadsSplitIt)
{
    const DecodeCase& c = GetParam();
    for (std::size_t split = 0; split <= c.received.size(); ++split) {
        TelnetDecoder decoder;
        std::string data;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.received.data());
        decoder.Decode(bytes, split, data);
        decoder.Decode(bytes + split, c.received.size() - split, data);
        EXPECT_EQ(data, c.data) << "split at " << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TelnetDecode, testing::Values(
    DecodeCase{"PlainBytes", "/?!\r\n\0\x7F"s, "/?!\r\n\0\x7F"s},
    DecodeCase{"NegotiationOnConnect", "\xFF\xFB\x01\xFF\xFB\x03\xFF\xFB\x00\xFF\xFD\x00" "/?!"s, "/?!"},
    DecodeCase{"DoubledIacIsOneByte", "a\xFF\xFF" "b\xFF\xFF", "a\xFF" "b\xFF"},
    DecodeCase{"TwoByteCommandsDropped", "a\xFF\xF3" "b\xFF\xF1" "c", "abc"},
    DecodeCase{"SubnegotiationDropped", "a\xFF\xFA\x18\x01\xFF\xFF\x02\xFF\xF0" "b", "ab"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(TelnetEncode, DoublesIacAndNothingElse)
{
    EXPECT_EQ(TelnetEncode("\x7F\0\xFF/\xFF\xFF\xF3"s), "\x7F\0\xFF\xFF/\xFF\xFF\xFF\xFF\xF3"s);
    TelnetDecoder decoder;
    const std::string all = [] {
        std::string s;
        for (int b = 0; b < 256; ++b)
            s += static_cast<char>(b);
        return s;
    }();
    const std::string sent = TelnetEncode(all);
    std::string back;
    decoder.Decode(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size(), back);
    EXPECT_EQ(back, all);
}

} // namespace
} // namespace varnel::sim
