// What end-to-end runs cannot see of the simulated meter: exact timing, faults' bytes and reports.
#include "MeterProtocol.h"
#include "PushMeter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <sstream>

namespace varnel::sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const char* const kId = "/VAR5\\2VARNEL-SIM";
const std::string kIdentLine = kId + "\r\n"s;
const std::string kAck9600 = "\006050\r\n";
const std::string kData = "!\r\n";                      // a meter with no data lines
const SimTime k9600 = 1'041'666ns, k300 = 33'333'333ns; // a byte: 10 bits

// A reader on the other end of the line: requests at 300 Bd, acknowledges, takes `rate`, and
// collects what the meter sent with the time each byte ended.
struct Line {
    explicit Line(MeterConfig config) : meter(std::move(config)) {}
    void Read(const std::string& ack, int rate)
    {
        for (int phase = 0; phase < 2; ++phase) {
            const std::string sent = phase ? ack : "/?!\r\n";
            meter.Receive(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size(), now, baud);
            baud = phase ? rate : baud;
            const SimTime end = now + 60s;
            for (auto due = meter.NextDue(); due && *due <= end; due = meter.NextDue()) {
                now = std::max(now, *due);
                const std::string out = meter.TakeOutput(now, baud);
                text += out;
                at.insert(at.end(), out.size(), now);
                if (!phase && !text.empty() && text.back() == '\n')
                    break; // the identification: the reader answers it
            }
        }
    }

    MeterProtocol meter;
    std::string text;
    SimTime now = 1s;
    int baud = 300;
    std::vector<SimTime> at;
};

std::string Framed(const std::string& lines)
{
    const std::string body = lines + '\x03';
    return '\x02' + body + std::accumulate(body.begin(), body.end(), '\0', std::bit_xor<char>());
}

struct Exchange {
    const char* name;
    const char* identification;
    std::vector<Fault> faults;
    std::string ack;    // empty: the reader sends none
    int rate;           // the reader's rate from the acknowledgement on
    std::string report; // mode, offered, data and reader's rate at the block, anomalies, outcome
    SimTime pause{};    // the longest between two bytes, where it tells
    std::string sent{}; // empty: the identification and the block
};

class MeterSimExchange : public testing::TestWithParam<Exchange> {};

TEST_P(MeterSimExchange, MeterTakesTheAskedRateChecksTheReaderAndShowsItsFault)
{
    const Exchange& c = GetParam();
    MeterConfig config;
    config.identification = c.identification;
    config.faults = c.faults;
    Line line(config);
    line.Read(c.ack, c.rate);
    const auto reports = line.meter.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    const ReadoutReport& r = reports.front();
    EXPECT_EQ((std::ostringstream() << r.mode << ' ' << r.offeredBaud << ' ' << r.dataBaud << ' '
                                    << r.readerBaudAtData << ' ' << r.anomalies.size() << ' ' << r.outcome)
                  .str(),
              c.report);
    EXPECT_EQ(line.text, c.sent.empty() ? c.identification + "\r\n"s + Framed(kData) : c.sent);
    std::adjacent_difference(line.at.begin(), line.at.end(), line.at.begin()); // the gaps
    EXPECT_EQ(c.pause != SimTime{} ? *std::max_element(line.at.begin() + 1, line.at.end()) : SimTime{},
              c.pause);
}

// A fault in a mode C readout the reader acknowledges and switches for.
Exchange Faulty(const char* name, Fault fault, const std::string& sent, SimTime pause = {},
                const char* report = "C 9600 9600 9600 0 complete")
{
    return {name, kId, {fault}, kAck9600, 9600, report, pause, sent};
}

INSTANTIATE_TEST_SUITE_P(
    Table, MeterSimExchange,
    testing::Values(
        Exchange{"ReaderDidNotSwitch", kId, {}, kAck9600, 300, "C 9600 9600 300 1 complete"},
        Exchange{"NoAcknowledgement", kId, {}, "", 300, "C 9600 300 300 1 complete", kAckWait + 200ms + k300},
        Exchange{"MalformedAcknowledgement", kId, {}, "\00605\r\n", 300, "C 9600 300 300 2 complete"},
        Exchange{"ModeBReaderStayed", "/VARE", {}, "", 300, "B 9600 9600 300 1 complete"},
        Faulty("NoSlash", Fault::NoSlash, kIdentLine.substr(1) + Framed(kData)),
        Faulty("GarbageBefore", Fault::GarbageBefore, "\x7F\0\xFF"s + kIdentLine + Framed(kData)),
        Faulty("BadBcc", Fault::BadBcc,
               kIdentLine + "\x02" + kData + "\x03" + char(Framed(kData).back() ^ 1)),
        // The check byte 'h' is over all after SOH.
        Faulty("Password", Fault::Password, kIdentLine + "\001P0\x02(12345678)\003h", {},
               "C 9600 0 0 0 password"),
        Faulty("LfOnly", Fault::LfOnly, kId + "\n"s + Framed("!\n")),
        Faulty("Unsolicited", Fault::Unsolicited,
               kIdentLine + Framed(kData) + Framed("F.F(00000000)\r\n!\r\n"), kUnsolicitedDelay + k9600)),
    [](const testing::TestParamInfo<Exchange>& info) { return info.param.name; });

TEST(MeterSimPacing, EachByteTakesTenBitTimesAtTheReadersRateAfterTheReactionTime)
{
    Line line({});
    line.Read(kAck9600, 9600);
    ASSERT_EQ(line.text.substr(0, 20), kIdentLine + '\x02');
    EXPECT_EQ(line.at[0] - 1s, 200ms + k300);
    EXPECT_EQ(line.at[18] - 1s, 200ms + 19 * k300);
    EXPECT_EQ(line.at[19] - line.at[18], 200ms + k9600);
    EXPECT_EQ(line.at.back() - line.at[19], (line.text.size() - 20) * k9600);
}

// Found by fuzzing: a time beyond 32-bit milliseconds overflowed the replay's clock.
TEST(MeterSimCapture, ATimeBeyond32BitMillisecondsIsADamagedLine)
{
    test::TempDir dir;
    const std::string file = dir.File("cap.txt");
    std::ofstream(file) << "0 > 2F\n4294967295 > 2F\n4294967296 < 2F\n";
    std::vector<CaptureRecord> records;
    std::string error;
    EXPECT_EQ(LoadCapture(file, records, error), CaptureLoad::Damaged);
    EXPECT_EQ(error, file + ":3: '4294967296' is not a time in milliseconds");
}

} // namespace
} // namespace varnel::sim
