// The simulated meter's protocol side, driven with explicit time: the things
// that would mislead the end-to-end tests if they were wrong.
#include "MeterData.h"
#include "MeterProtocol.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

namespace varnel::sim {
namespace {

using namespace std::chrono_literals;

const std::string kRequest = "/?!\r\n";
const std::string kAck9600 = "\x06" "050\r\n";
const std::string kIdentLine = "/VAR5\\2VARNEL-SIM\r\n";

// A reader on the other end of the line: sends at a time, sets its rate, and
// collects what the meter sent with the time each byte ended.
struct Line {
    explicit Line(MeterConfig config) : meter(std::move(config)) {}

    void Send(const std::string& bytes)
    {
        meter.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now, baud);
    }
    // Runs until the meter has sent `tail` (never, when empty), at most `limit`.
    void Run(SimTime limit, const std::string& tail = {})
    {
        const SimTime end = now + limit;
        while (tail.empty() || text.size() < tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
            const auto due = meter.NextDue();
            if (!due || *due > end) {
                now = end;
                return;
            }
            now = std::max(now, *due);
            for (const char c : meter.TakeOutput(now, baud)) {
                text += c;
                at.push_back(now);
            }
        }
    }
    ReadoutReport OnlyReport()
    {
        auto reports = meter.TakeReports();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? ReadoutReport{} : reports.front();
    }
    // Sign-on and acknowledgement, the reader switching as asked.
    void SignOn()
    {
        Send(kRequest);
        Run(60s, "\r\n");
        Send(kAck9600);
        baud = 9600;
    }
    void ReadModeC()
    {
        SignOn();
        Run(60s);
    }

    MeterProtocol meter;
    SimTime now = 1s;
    int baud = 300;
    std::string text;
    std::vector<SimTime> at;
};

MeterConfig Config(std::vector<Fault> faults = {})
{
    MeterConfig config;
    config.lines = {"1.8.0(012.5*kWh)", "0.0.0(A1B2)", "C.5.0(L1-L2-L3)", "1.6.0(02.4*kW)(2506101415)"};
    config.faults = std::move(faults);
    return config;
}

// The data block: from STX to the byte after ETX.
std::string BlockOf(const std::string& text, std::size_t from = 0)
{
    const auto stx = text.find('\x02', from);
    const auto etx = text.find('\x03', stx);
    if (stx == std::string::npos || etx == std::string::npos || etx + 1 >= text.size())
        return {};
    return text.substr(stx, etx - stx + 2);
}

char XorAfterStx(const std::string& block)
{
    char x = 0;
    for (std::size_t i = 1; i + 1 < block.size(); ++i)
        x = static_cast<char>(x ^ block[i]);
    return x;
}

TEST(MeterSimBlock, CheckByteIsTheXorAfterStxUpToEtx)
{
    Line line(Config());
    line.ReadModeC();
    const std::string block = BlockOf(line.text);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block.substr(0, 19), "\x02" "1.8.0(012.5*kWh)\r\n");
    EXPECT_NE(block.find("\r\n!\r\n\x03"), std::string::npos);
    EXPECT_EQ(block.back(), XorAfterStx(block));
}

struct RateCase {
    const char* name;
    const char* identification;
    std::string ack;      // empty: the reader sends none
    int readerBaudAfter;  // the reader's rate from the acknowledgement on
    char mode;
    int offered, dataBaud;
    std::size_t anomalies;
};

class MeterSimRates : public testing::TestWithParam<RateCase> {};

TEST_P(MeterSimRates, MeterTakesTheAskedRateAndChecksTheReader)
{
    const RateCase& c = GetParam();
    MeterConfig config = Config();
    config.identification = c.identification;
    Line line(config);
    line.Send(kRequest);
    line.Run(60s, "\r\n");
    if (!c.ack.empty())
        line.Send(c.ack);
    line.baud = c.readerBaudAfter;
    line.Run(60s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.mode, c.mode);
    EXPECT_EQ(report.offeredBaud, c.offered);
    EXPECT_EQ(report.dataBaud, c.dataBaud);
    EXPECT_EQ(report.readerBaudAtData, c.readerBaudAfter);
    EXPECT_EQ(report.anomalies.size(), c.anomalies) << (report.anomalies.empty() ? "" : report.anomalies[0]);
    EXPECT_EQ(report.outcome, "complete");
    EXPECT_FALSE(BlockOf(line.text).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, MeterSimRates, testing::Values(
    RateCase{"ModeCSwitched", "/VAR5\\2SIM", kAck9600, 9600, 'C', 9600, 9600, 0},
    RateCase{"ModeCLowerRateAsked", "/VAR5\\2SIM", "\x06" "030\r\n", 2400, 'C', 9600, 2400, 0},
    RateCase{"ModeCHigherRateAsked", "/VAR4SIM", "\x06" "060\r\n", 19200, 'C', 4800, 19200, 1},
    RateCase{"ModeCReaderDidNotSwitch", "/VAR5\\2SIM", kAck9600, 300, 'C', 9600, 9600, 1},
    RateCase{"ModeCNoAcknowledgement", "/VAR5\\2SIM", "", 300, 'C', 9600, 300, 1},
    RateCase{"ModeCMalformedAcknowledgement", "/VAR5\\2SIM", "\x06" "05\r\n", 300, 'C', 9600, 300, 2},
    RateCase{"ModeB", "/VARC\\2SIM", "", 2400, 'B', 2400, 2400, 0},
    RateCase{"ModeBReaderStayed", "/VARE", "", 300, 'B', 9600, 9600, 1},
    RateCase{"ModeA", "/VAR SIM", "", 300, 'A', 300, 300, 0}),
    [](const testing::TestParamInfo<RateCase>& info) { return info.param.name; });

TEST(MeterSimPacing, EachByteTakesTenBitTimesAtTheReadersRate)
{
    // A socket carries no line settings (rate 0): the meter keeps to the agreed
    // rates itself and has nothing to find fault with.
    for (const bool socket : {false, true}) {
        SCOPED_TRACE(socket ? "socket" : "pseudo-terminal");
        Line line(Config());
        line.baud = socket ? 0 : 300;
        line.Send(kRequest);
        line.Run(60s, "\r\n");
        // 200 ms reaction, then the identification line: 19 bytes of 33.33 ms at 300 Bd.
        ASSERT_EQ(line.text, kIdentLine);
        EXPECT_EQ(line.at.front() - 1s, 200ms + 33'333'333ns);
        EXPECT_EQ(line.at.back() - 1s, 200ms + 19 * 33'333'333ns);

        line.Send(kAck9600);
        line.baud = socket ? 0 : 9600;
        const SimTime ackAt = line.now;
        line.Run(60s);
        ASSERT_EQ(line.text[19], '\x02');
        EXPECT_EQ(line.at[19] - ackAt, 200ms + 1'041'666ns);
        // The whole block at 9600 Bd: 1.0417 ms a byte, without drift.
        EXPECT_EQ(line.at.back() - line.at[19], (BlockOf(line.text).size() - 1) * 1'041'666ns);
        const ReadoutReport report = line.OnlyReport();
        EXPECT_TRUE(report.anomalies.empty()) << report.ToJson();
    }
}

TEST(MeterSimPacing, NoPaceSendsAtOnceAfterTheReactionTime)
{
    MeterConfig config = Config();
    config.pace = false;
    Line line(config);
    line.Send(kRequest);
    line.Run(60s, "\r\n");
    EXPECT_EQ(line.at.front() - 1s, 200ms);
    EXPECT_EQ(line.at.back() - 1s, 200ms);
}

TEST(MeterSimAck, WithoutAcknowledgementTheBlockFollowsAtTheInitialRate)
{
    Line line(Config());
    line.Send(kRequest);
    line.Run(60s, "\r\n");
    line.Run(10s, "\x03");
    ASSERT_EQ(line.text[19], '\x02');
    // 1.5 s of waiting, the reaction time, then one byte at 300 Bd.
    EXPECT_EQ(line.at[19] - line.at[18], 1500ms + 200ms + 33'333'333ns);
    line.Send(kAck9600); // too late: changes nothing
    line.Run(60s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.acknowledgement, "");
    EXPECT_EQ(report.dataBaud, 300);
}

TEST(MeterSimRequest, OnlyAWellFormedRequestIsAnsweredAndNoiseAroundItIgnored)
{
    Line bad(Config());
    for (const std::string& request : {"/?" + std::string(33, '1') + "!\r\n", std::string("/?!\n"), std::string("/!\r\n")})
        bad.Send(request);
    bad.Run(10s);
    EXPECT_EQ(bad.text, "");
    EXPECT_TRUE(bad.meter.TakeReports().empty());

    Line good(Config());
    good.Send("xx\x15/?/?12345678!\r\n");
    good.Run(60s, "\r\n");
    good.Send(kAck9600);
    good.Run(60s);
    const ReadoutReport report = good.OnlyReport();
    EXPECT_EQ(report.request, "/?12345678!\r\n");
    EXPECT_EQ(report.address, "12345678");
}

TEST(MeterSimRequest, NewRequestInsideTheBlockStartsOver)
{
    Line line(Config({Fault::Stall}));
    line.SignOn();
    line.Run(2s); // inside the stall
    line.baud = 300;
    line.text.clear();
    line.Send(kRequest);
    line.Run(60s, "\r\n");
    EXPECT_EQ(line.OnlyReport().outcome, "interrupted");
    EXPECT_TRUE(line.meter.InReadout());
    EXPECT_EQ(line.text, kIdentLine);
}

// Largest silence between two bytes sent after the identification line.
SimTime LongestGap(const Line& l)
{
    SimTime gap{};
    for (std::size_t i = 20; i < l.at.size(); ++i)
        gap = std::max(gap, l.at[i] - l.at[i - 1]);
    return gap;
}

struct FaultCase {
    const char* name;
    Fault fault;
    std::function<void(Line&)> check;
};

class MeterSimFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(MeterSimFaults, FaultShowsOnTheLine)
{
    Line line(Config({GetParam().fault}));
    line.ReadModeC();
    GetParam().check(line);
}

INSTANTIATE_TEST_SUITE_P(Table, MeterSimFaults, testing::Values(
    FaultCase{"Silent", Fault::Silent, [](Line& l) {
        EXPECT_EQ(l.text, "");
        EXPECT_EQ(l.OnlyReport().outcome, "silent");
    }},
    FaultCase{"NoSlash", Fault::NoSlash, [](Line& l) { EXPECT_EQ(l.text.substr(0, 18), kIdentLine.substr(1)); }},
    FaultCase{"GarbageBefore", Fault::GarbageBefore, [](Line& l) {
        EXPECT_GT(l.text.find('/'), 0u);
        EXPECT_EQ(l.text.substr(l.text.find('/'), 19), kIdentLine);
    }},
    FaultCase{"BadBcc", Fault::BadBcc, [](Line& l) {
        const std::string block = BlockOf(l.text);
        ASSERT_FALSE(block.empty());
        EXPECT_NE(block.back(), XorAfterStx(block));
        EXPECT_EQ(block.back() & 0x80, 0);
    }},
    FaultCase{"LongLine", Fault::LongLine, [](Line& l) {
        const std::string block = BlockOf(l.text);
        EXPECT_EQ(block.find('\n'), 1500u + 1 + std::string("1.8.0(012.5*kWh)\r").size());
        EXPECT_EQ(block.back(), XorAfterStx(block));
    }},
    FaultCase{"Stall", Fault::Stall, [](Line& l) {
        const std::string block = BlockOf(l.text);
        EXPECT_EQ(block.back(), XorAfterStx(block));
        EXPECT_GE(LongestGap(l), 4s);
        EXPECT_LT(LongestGap(l), 4s + 2ms);
    }},
    FaultCase{"Hangup", Fault::Hangup, [](Line& l) { // what the reader sees: MeterSimPtyTest
        EXPECT_TRUE(l.meter.TakeHangup());
        EXPECT_FALSE(l.meter.TakeHangup()) << "the device would be closed twice";
    }},
    FaultCase{"BreakWithoutReply", Fault::Break, [](Line& l) {
        EXPECT_EQ(l.text.substr(l.text.size() - 5), "\x01" "B0\x03q");
        const ReadoutReport report = l.OnlyReport();
        EXPECT_EQ(report.breakReply, "missing");
        EXPECT_EQ(report.anomalies.size(), 1u);
    }},
    FaultCase{"Password", Fault::Password, [](Line& l) {
        const std::string frame = "\x01" "P0\x02(12345678)\x03";
        EXPECT_EQ(l.text.substr(19), frame + XorAfterStx(frame + '?')); // check byte over all after SOH
        EXPECT_EQ(l.OnlyReport().outcome, "password");
    }},
    FaultCase{"LfOnly", Fault::LfOnly, [](Line& l) {
        EXPECT_EQ(l.text.find('\r'), std::string::npos);
        EXPECT_NE(l.text.find("\n!\n\x03"), std::string::npos);
    }},
    FaultCase{"Unsolicited", Fault::Unsolicited, [](Line& l) {
        const std::string first = BlockOf(l.text);
        const std::size_t secondAt = l.text.find('\x02', l.text.find(first) + first.size());
        ASSERT_NE(secondAt, std::string::npos);
        const std::string second = BlockOf(l.text, secondAt);
        EXPECT_EQ(second.back(), XorAfterStx(second));
        EXPECT_GE(LongestGap(l), 1s);
        EXPECT_EQ(l.OnlyReport().outcome, "complete");
    }}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(MeterSimRobustness, RandomBytesFromTheReaderNeverBreakTheMeter)
{
    std::mt19937 random(62056);
    Line line(Config({Fault::Break, Fault::Unsolicited}));
    const std::string pieces[] = {kRequest, kAck9600, "\x01" "B0\x03q", "/?", "\x06", "\r\n"};
    for (int round = 0; round < 3000; ++round) {
        std::string noise;
        for (int i = static_cast<int>(random() % 8); i > 0; --i)
            noise += static_cast<char>(random() % 256);
        line.Send(noise + pieces[random() % 6]);
        line.baud = (random() % 2) ? 300 : 9600;
        line.Run(std::chrono::milliseconds(random() % 2500));
    }
    line.Run(120s);
    EXPECT_FALSE(line.meter.InReadout());
    for (const auto& report : line.meter.TakeReports())
        EXPECT_FALSE(report.outcome.empty());
}

TEST(MeterSimReport, JsonEscapesControlBytes)
{
    ReadoutReport report;
    report.request = "/?!\r\n";
    report.identification = "/VAR5\\2\"X\"";
    report.anomalies = {"a\x01"};
    const std::string json = report.ToJson();
    EXPECT_NE(json.find(R"("request":"/?!\u000D\u000A")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("identification":"/VAR5\\2\"X\"")"), std::string::npos);
    EXPECT_NE(json.find(R"("anomalies":["a\u0001"])"), std::string::npos);
}

// Writes `bytes` to a file called `name` and loads it.
MeterConfig Load(const std::string& name, const std::string& bytes, bool keepIdentification = false)
{
    test::TempDir dir;
    std::ofstream(dir.File(name), std::ios::binary) << bytes;
    MeterConfig config;
    std::string error;
    EXPECT_TRUE(LoadDataFile(dir.File(name), config, keepIdentification, error)) << error;
    return config;
}

TEST(MeterSimDataFile, RawCaptureSplitsAtItsIdentificationOrIsSentWhole)
{
    const MeterConfig echo = Load("echo.BIN", "\x7F/?!\r\n/ABC4XY\r\n\x06" "040\r\n\x02" "1(2)\r\n!\r\n\x03q");
    EXPECT_EQ(echo.preamble, "\x7F/?!\r\n");
    EXPECT_EQ(echo.identification, "/ABC4XY");
    EXPECT_EQ(echo.identificationEnd, "\r\n");
    EXPECT_EQ(echo.raw.value_or(""), "\x06" "040\r\n\x02" "1(2)\r\n!\r\n\x03q");

    const MeterConfig noId = Load("noid.bin", "\x02" "0.0(/x)\r\n!\r\n\x03q");
    EXPECT_EQ(noId.identification, MeterConfig{}.identification);
    EXPECT_EQ(noId.raw.value_or(""), "\x02" "0.0(/x)\r\n!\r\n\x03q");
}

TEST(MeterSimDataFile, TextLinesKeepTheirOwnEndMark)
{
    const MeterConfig config = Load("lines.txt", "/XYZ5M\r\n1.8.0(1*kWh)\n96.7.5(0969)!\r\n\n", true);
    EXPECT_EQ(config.identification, MeterConfig{}.identification);
    Line line(config);
    line.ReadModeC();
    const std::string block = BlockOf(line.text);
    EXPECT_EQ(block.substr(0, block.size() - 1), "\x02" "1.8.0(1*kWh)\r\n96.7.5(0969)!\r\n\x03");
}

TEST(MeterSimDataFile, UnreadableFileIsAnError)
{
    MeterConfig config;
    std::string error;
    EXPECT_FALSE(LoadDataFile(testing::TempDir() + "does-not-exist.txt", config, false, error));
    EXPECT_NE(error.find("does-not-exist.txt"), std::string::npos);
    EXPECT_FALSE(LoadDataFile(testing::TempDir(), config, false, error));
}

} // namespace
} // namespace varnel::sim
