// What the end-to-end tests cannot see of the simulated meter: exact timing, a fault's bytes, telnet framing,
// data files.
#include "MeterData.h"
#include "MeterProtocol.h"
#include "PushMeter.h"
#include "Telnet.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
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

// A reader on the other end of the line: sends at a time, sets its rate, and
// collects what the meter sent with the time each byte ended.
struct Line {
    explicit Line(MeterConfig config) : meter(std::move(config)) {}

    void Send(const std::string& b)
    {
        meter.Receive(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), now, baud);
    }
    void Run(SimTime limit, bool toLineEnd = false)
    {
        const SimTime end = now + limit;
        for (auto due = meter.NextDue(); due && *due <= end; due = meter.NextDue()) {
            now = std::max(now, *due);
            const std::string out = meter.TakeOutput(now, baud);
            text += out;
            at.insert(at.end(), out.size(), now);
            if (toLineEnd && !text.empty() && text.back() == '\n')
                return;
        }
        now = end;
    }
    void Read(const std::string& ack = kAck9600, int rate = 9600, SimTime wait = 60s)
    {
        Send(request);
        Run(60s, true);
        Send(ack);
        baud = rate;
        Run(wait);
    }
    ReadoutReport OnlyReport()
    {
        const auto reports = meter.TakeReports();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? ReadoutReport{} : reports.front();
    }

    MeterProtocol meter;
    std::string request = "/?!\r\n";
    std::string text;
    SimTime now = 1s;
    int baud = 300;
    std::vector<SimTime> at;
};

const std::string kData = "1.8.0(012.5*kWh)\r\n!\r\n";

MeterConfig Config(std::vector<Fault> faults = {}, bool pace = true)
{
    MeterConfig config;
    config.pace = pace;
    config.lines = {"1.8.0(012.5*kWh)"};
    config.faults = std::move(faults);
    return config;
}

// A block with its check byte: the XOR of all after STX.
std::string Framed(const std::string& lines)
{
    const std::string body = lines + '\x03';
    return '\x02' + body + std::accumulate(body.begin(), body.end(), '\0', std::bit_xor<char>());
}

std::string Times(const std::string& text, int n)
{
    std::string out;
    while (n-- > 0)
        out += text;
    return out;
}

struct Exchange {
    const char* name;
    const char* identification;
    std::vector<Fault> faults;
    std::string ack;    // empty: the reader sends none
    int rate;           // the reader's rate from the acknowledgement on
    std::string report; // mode, offered, data and reader's rate at the block, anomalies, outcome, break reply
    SimTime pause{};    // the longest between two bytes, where it tells
    std::string sent{}; // empty: the identification and the block
};

class MeterSimExchange : public testing::TestWithParam<Exchange> {};

TEST_P(MeterSimExchange, MeterTakesTheAskedRateChecksTheReaderAndShowsItsFault)
{
    const Exchange& c = GetParam();
    MeterConfig config = Config(c.faults);
    config.identification = c.identification;
    Line line(config);
    line.Read(c.ack, c.rate);
    const ReadoutReport r = line.OnlyReport();
    EXPECT_EQ((std::ostringstream() << r.mode << ' ' << r.offeredBaud << ' ' << r.dataBaud << ' '
                                    << r.readerBaudAtData << ' ' << r.anomalies.size() << ' ' << r.outcome
                                    << (r.breakReply.empty() ? "" : " ") << r.breakReply)
                  .str(),
              c.report);
    EXPECT_EQ(line.text, c.sent.empty() ? c.identification + "\r\n"s + Framed(kData) : c.sent);
    std::vector<SimTime> gaps(line.at.size());
    std::adjacent_difference(line.at.begin(), line.at.end(), gaps.begin());
    if (c.pause != SimTime{}) {
        EXPECT_EQ(*std::max_element(gaps.begin() + 1, gaps.end()), c.pause);
    }
}

// A fault in a mode C readout the reader acknowledges and switches for.
Exchange Faulty(const char* name, Fault fault, const std::string& sent, SimTime pause = {},
                const char* report = "C 9600 9600 9600 0 complete")
{
    return {name, kId, {fault}, kAck9600, 9600, report, pause, sent};
}

const SimTime k9600 = 1'041'666ns, k300 = 33'333'333ns; // a byte: 10 bits

INSTANTIATE_TEST_SUITE_P(
    Table, MeterSimExchange,
    testing::Values(
        Exchange{"LowerRateAsked", kId, {}, "\006030\r\n", 2400, "C 9600 2400 2400 0 complete"},
        Exchange{"HigherRateAsked", "/VAR4SIM", {}, "\006060\r\n", 19200, "C 4800 19200 19200 1 complete"},
        Exchange{"ReaderDidNotSwitch", kId, {}, kAck9600, 300, "C 9600 9600 300 1 complete"},
        Exchange{"NoAcknowledgement", kId, {}, "", 300, "C 9600 300 300 1 complete", kAckWait + 200ms + k300},
        Exchange{"MalformedAcknowledgement", kId, {}, "\00605\r\n", 300, "C 9600 300 300 2 complete"},
        Exchange{"ModeBReaderStayed", "/VARE", {}, "", 300, "B 9600 9600 300 1 complete"},
        Exchange{"ModeA", "/VAR SIM", {}, "", 300, "A 300 300 300 0 complete"},
        Faulty("NoSlash", Fault::NoSlash, kIdentLine.substr(1) + Framed(kData)),
        Faulty("GarbageBefore", Fault::GarbageBefore, "\x7F\0\xFF"s + kIdentLine + Framed(kData)),
        Faulty("BadBcc", Fault::BadBcc,
               kIdentLine + "\x02" + kData + "\x03" + char(Framed(kData).back() ^ 1)),
        Faulty("LongLine", Fault::LongLine, kIdentLine + Framed(Times("0123456789", 150) + kData)),
        Faulty("Stall", Fault::Stall, kIdentLine + Framed(kData), kStallPause + k9600),
        Faulty("BreakWithoutReply", Fault::Break, kIdentLine + Framed(kData) + "\001B0\x03q", {},
               "C 9600 9600 9600 1 complete missing"),
        // The check byte 'h' is over all after SOH.
        Faulty("Password", Fault::Password, kIdentLine + "\001P0\x02(12345678)\003h", {},
               "C 9600 0 0 0 password"),
        Faulty("LfOnly", Fault::LfOnly, kId + "\n"s + Framed("1.8.0(012.5*kWh)\n!\n")),
        Faulty("Unsolicited", Fault::Unsolicited,
               kIdentLine + Framed(kData) + Framed("F.F(00000000)\r\n!\r\n"), kUnsolicitedDelay + k9600)),
    [](const testing::TestParamInfo<Exchange>& info) { return info.param.name; });

TEST(MeterSimPacing, EachByteTakesTenBitTimesAtTheReadersRateAfterTheReactionTime)
{
    // A socket carries no line settings (rate 0): the meter keeps to the agreed rates itself.
    for (const auto& [socket, pace] : {std::pair{false, true}, {true, true}, {false, false}}) {
        SCOPED_TRACE(testing::Message() << "socket " << socket << ", paced " << pace);
        Line line(Config({}, pace));
        line.baud = socket ? 0 : 300;
        line.Read(kAck9600, socket ? 0 : 9600);
        const SimTime at300 = pace ? k300 : 0ns, at9600 = pace ? k9600 : 0ns;
        ASSERT_EQ(line.text.substr(0, 20), kIdentLine + '\x02');
        EXPECT_EQ(line.at[0] - 1s, 200ms + at300);
        EXPECT_EQ(line.at[18] - 1s, 200ms + 19 * at300);
        EXPECT_EQ(line.at[19] - line.at[18], 200ms + at9600);
        EXPECT_EQ(line.at.back() - line.at[19], (line.text.size() - 20) * at9600);
        EXPECT_TRUE(line.OnlyReport().anomalies.empty());
    }
}

TEST(MeterSimRequest, OnlyAWellFormedRequestIsAnsweredAndANewOneStartsOver)
{
    Line line(Config({Fault::Stall}));
    line.request = "/?" + std::string(33, '1') + "!\r\n"
                   + "/?!\n/!\r\nxx\x15/?/?12345678!\r\n"; // too long, no CR, no '?'
    line.Read(kAck9600, 9600, 2s);                         // into the stall
    line.text.clear();
    line.request = "/?!\r\n"; // at the data rate: the meter takes it all the same
    line.Read("", 300, 0s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.request + "|" + report.address + "|" + report.outcome,
              "/?12345678!\r\n|12345678|interrupted");
    EXPECT_TRUE(line.meter.InReadout());
    EXPECT_EQ(line.text, kIdentLine);
}

TEST(MeterSimFiles, DataSplitsAtTheIdentificationLinesKeepTheirEndMarkAndACaptureNamesItsDamagedLine)
{
    test::TempDir dir;
    MeterConfig config;
    std::string error;
    const auto load = [&](const std::string& name, const std::string& bytes,
                          bool keepIdentification = false) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        EXPECT_TRUE(LoadDataFile(dir.File(name), config = MeterConfig{}, keepIdentification, error)) << error;
        return config;
    };
    load("echo.BIN", "\x7F/?!\r\n/ABC4XY\r\n\006040\r\n\0021(2)\r\n!\r\n\x03q");
    EXPECT_EQ(config.preamble + "|" + config.identification + "|" + config.identificationEnd,
              "\x7F/?!\r\n|/ABC4XY|\r\n");
    EXPECT_EQ(config.raw.value_or(""), "\006040\r\n\0021(2)\r\n!\r\n\x03q");

    Line line(load("lines.txt", "/XYZ5M\r\n1.8.0(1*kWh)\n96.7.5(0969)!\r\n\n", true));
    line.Read();
    EXPECT_EQ(line.text, kIdentLine + Framed("1.8.0(1*kWh)\r\n96.7.5(0969)!\r\n"));

    EXPECT_FALSE(LoadDataFile(dir.File("does-not-exist.txt"), config, false, error));
    EXPECT_NE(error.find("does-not-exist.txt"), std::string::npos);
    EXPECT_FALSE(LoadDataFile(dir.Path().string(), config, false, error));

    std::ofstream(dir.File("cap.txt")) << "# capture\n0 > 2F\n4294967295 < 2F\n4294967296 < 2F\n";
    std::vector<CaptureRecord> records;
    LoadCapture(dir.File("cap.txt"), records, error);
    EXPECT_EQ(error, dir.File("cap.txt") + ":4: '4294967296' is not a time in milliseconds");
}

TEST(MeterSimPush, AFramedTelegramCarriesItsBlockCheck)
{
    EXPECT_EQ(PushMeter(Config(), 0ms, true).Telegram(), Framed(kIdentLine + "\r\n" + kData));
}

TEST(Telnet, EncodingDoublesIacOnlyAndDecodingKeepsTheDataWhereverAReadSplitsIt)
{
    EXPECT_EQ(TelnetEncode("\x7F\0\xFF/\xFF\xFF\xF3"s), "\x7F\0\xFF\xFF/\xFF\xFF\xFF\xFF\xF3"s);
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    // Negotiation on connect, a subnegotiation, every byte, two-byte commands.
    const std::string sent = "\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\000a\xFF\xFA\x18\x01\xFF\xFF\x02\xFF\xF0"s
                             + TelnetEncode(all) + "\xFF\363b\xFF\xF1";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(sent.data());
    for (std::size_t split = 0; split <= sent.size(); ++split) {
        TelnetDecoder decoder;
        std::string out;
        decoder.Decode(bytes, split, out);
        decoder.Decode(bytes + split, sent.size() - split, out);
        EXPECT_EQ(out, "a" + all + "b") << "split at " << split;
    }
}

} // namespace
} // namespace varnel::sim
