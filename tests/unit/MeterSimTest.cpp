// The simulated meter's protocol side, driven with explicit time: the things
// that would mislead the end-to-end tests if they were wrong.
#include "MeterData.h"
#include "MeterProtocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

namespace varnel::sim {
namespace {

using namespace std::chrono_literals;

const std::string kRequest = "/?!\r\n";
const std::string kAck9600 = "\x06" "050\r\n";

struct Sent {
    SimTime at;
    char byte;
};

// A reader on the other end of the line: sends at a time, sets its rate, and
// collects what the meter sent with the time each byte ended.
class Line {
public:
    explicit Line(MeterConfig config) : meter(std::move(config)) {}

    void Send(const std::string& bytes)
    {
        meter.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now, baud);
    }
    void RunFor(SimTime span) { RunUntil(span, nullptr); }
    // Runs until `stop` holds for what was sent so far, at most `limit`.
    void RunUntil(SimTime limit, const std::function<bool()>& stop)
    {
        const SimTime end = now + limit;
        while (!(stop && stop())) {
            const auto due = meter.NextDue();
            if (!due || *due > end) {
                now = end;
                return;
            }
            now = std::max(now, *due);
            for (const char c : meter.TakeOutput(now, baud))
                sent.push_back({now, c});
        }
    }
    void RunUntilSent(const std::string& tail, SimTime limit = 60s)
    {
        RunUntil(limit, [&] { return Text().size() >= tail.size() && Text().compare(Text().size() - tail.size(), tail.size(), tail) == 0; });
    }
    std::string Text() const
    {
        std::string text;
        for (const auto& s : sent)
            text += s.byte;
        return text;
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
        RunUntilSent("\r\n");
        Send(kAck9600);
        baud = 9600;
    }
    void ReadModeC()
    {
        SignOn();
        RunFor(60s);
    }

    MeterProtocol meter;
    SimTime now = 1s;
    int baud = 300;
    std::vector<Sent> sent;
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
    const std::string block = BlockOf(line.Text());
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(block.substr(0, 19), "\x02" "1.8.0(012.5*kWh)\r\n");
    EXPECT_NE(block.find("\r\n!\r\n\x03"), std::string::npos);
    EXPECT_EQ(block.back(), XorAfterStx(block));
}

TEST(MeterSimBlock, BadBccFaultSendsAWrongCheckByte)
{
    Line line(Config({Fault::BadBcc}));
    line.ReadModeC();
    const std::string block = BlockOf(line.Text());
    ASSERT_FALSE(block.empty());
    EXPECT_NE(block.back(), XorAfterStx(block));
    EXPECT_EQ(block.back() & 0x80, 0);
}

struct RateCase {
    const char* name;
    const char* identification;
    std::string ack;       // empty: the reader sends none
    int readerBaudAfter;   // the reader's rate from the acknowledgement on
    char mode;
    int offered;
    int dataBaud;
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
    line.RunUntilSent("\r\n");
    if (!c.ack.empty())
        line.Send(c.ack);
    line.baud = c.readerBaudAfter;
    line.RunFor(60s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.mode, c.mode);
    EXPECT_EQ(report.offeredBaud, c.offered);
    EXPECT_EQ(report.dataBaud, c.dataBaud);
    EXPECT_EQ(report.readerBaudAtData, c.readerBaudAfter);
    EXPECT_EQ(report.anomalies.size(), c.anomalies) << (report.anomalies.empty() ? "" : report.anomalies[0]);
    EXPECT_EQ(report.outcome, "complete");
    EXPECT_FALSE(BlockOf(line.Text()).empty());
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
    Line line(Config());
    line.Send(kRequest);
    line.RunUntilSent("\r\n");
    // 200 ms reaction, then "/VAR5\2VARNEL-SIM" CR LF: 19 bytes of 33.33 ms at 300 Bd.
    ASSERT_EQ(line.sent.size(), 19u);
    EXPECT_EQ(line.sent.front().at - 1s, 200ms + 33'333'333ns);
    EXPECT_EQ(line.sent.back().at - 1s, 200ms + 19 * 33'333'333ns);

    line.Send(kAck9600);
    line.baud = 9600;
    const SimTime ackAt = line.now;
    line.RunFor(60s);
    const std::string block = BlockOf(line.Text());
    const auto stx = line.sent.begin() + 19;
    ASSERT_EQ(stx->byte, '\x02');
    EXPECT_EQ(stx->at - ackAt, 200ms + 1'041'666ns);
    // The whole block at 9600 Bd: 1.0417 ms a byte, without drift.
    EXPECT_EQ(line.sent.back().at - stx->at, (block.size() - 1) * 1'041'666ns);
}

TEST(MeterSimPacing, NoPaceSendsAtOnceAfterTheReactionTime)
{
    MeterConfig config = Config();
    config.pace = false;
    Line line(config);
    line.Send(kRequest);
    line.RunUntilSent("\r\n");
    EXPECT_EQ(line.sent.front().at, line.sent.back().at);
    EXPECT_EQ(line.sent.back().at - 1s, 200ms);
}

TEST(MeterSimAck, WithoutAcknowledgementTheBlockFollowsAtTheInitialRate)
{
    Line line(Config());
    line.Send(kRequest);
    line.RunUntilSent("\r\n");
    const SimTime identEnd = line.sent.back().at;
    line.RunUntilSent("\x03", 10s);
    const auto stx = line.sent.begin() + 19;
    ASSERT_EQ(stx->byte, '\x02');
    // 1.5 s of waiting, the reaction time, then one byte at 300 Bd.
    EXPECT_EQ(stx->at - identEnd, 1500ms + 200ms + 33'333'333ns);
    // An acknowledgement now comes too late and changes nothing.
    line.Send(kAck9600);
    line.RunFor(60s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.acknowledgement, "");
    EXPECT_EQ(report.dataBaud, 300);
}

TEST(MeterSimRequest, AddressIsTakenAndNoiseAroundTheRequestIgnored)
{
    Line line(Config());
    line.Send("xx\x15/?/?12345678!\r\n");
    line.RunUntilSent("\r\n");
    line.Send("\x06" "050\r\n");
    line.RunFor(60s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.request, "/?12345678!\r\n");
    EXPECT_EQ(report.address, "12345678");
}

TEST(MeterSimRequest, OverlongAddressOrBrokenFramingIsNoRequest)
{
    Line line(Config());
    line.Send("/?" + std::string(33, '1') + "!\r\n");
    line.Send("/?!\n");
    line.Send("/!\r\n");
    line.RunFor(10s);
    EXPECT_TRUE(line.sent.empty());
    EXPECT_TRUE(line.meter.TakeReports().empty());
}

TEST(MeterSimRequest, NewRequestInsideTheBlockStartsOver)
{
    Line line(Config({Fault::Stall}));
    line.SignOn();
    line.RunFor(2s);  // inside the stall
    line.baud = 300;
    line.sent.clear();
    line.Send(kRequest);
    line.RunUntilSent("\r\n");
    const auto reports = line.meter.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].outcome, "interrupted");
    EXPECT_TRUE(line.meter.InReadout());
    EXPECT_EQ(line.Text(), "/VAR5\\2VARNEL-SIM\r\n");
}

// Largest silence between two consecutive bytes sent.
SimTime LongestGap(const std::vector<Sent>& sent, std::size_t from)
{
    SimTime gap{};
    for (std::size_t i = from + 1; i < sent.size(); ++i)
        gap = std::max(gap, sent[i].at - sent[i - 1].at);
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
        EXPECT_EQ(l.Text(), "");
        EXPECT_EQ(l.OnlyReport().outcome, "silent");
    }},
    FaultCase{"NoSlash", Fault::NoSlash, [](Line& l) {
        EXPECT_EQ(l.Text().substr(0, 18), "VAR5\\2VARNEL-SIM\r\n");
    }},
    FaultCase{"GarbageBefore", Fault::GarbageBefore, [](Line& l) {
        const std::string text = l.Text();
        EXPECT_GT(text.find('/'), 0u);
        EXPECT_EQ(text.substr(text.find('/'), 19), "/VAR5\\2VARNEL-SIM\r\n");
    }},
    FaultCase{"LongLine", Fault::LongLine, [](Line& l) {
        const std::string block = BlockOf(l.Text());
        EXPECT_EQ(block.find('\n'), 1500u + 1 + std::string("1.8.0(012.5*kWh)\r").size());
        EXPECT_EQ(block.back(), XorAfterStx(block));
    }},
    FaultCase{"Stall", Fault::Stall, [](Line& l) {
        const std::string block = BlockOf(l.Text());
        EXPECT_EQ(block.back(), XorAfterStx(block));
        const SimTime gap = LongestGap(l.sent, 19);
        EXPECT_GE(gap, 4s);
        EXPECT_LT(gap, 4s + 2ms);
    }},
    FaultCase{"Hangup", Fault::Hangup, [](Line& l) {
        EXPECT_TRUE(l.meter.TakeHangup());
        EXPECT_FALSE(l.meter.TakeHangup());
        const std::string text = l.Text();
        EXPECT_NE(text.find('\x02'), std::string::npos);
        EXPECT_EQ(text.find('\x03'), std::string::npos);
        EXPECT_EQ(l.OnlyReport().outcome, "hangup");
    }},
    FaultCase{"BreakWithoutReply", Fault::Break, [](Line& l) {
        const std::string text = l.Text();
        EXPECT_EQ(text.substr(text.size() - 5), "\x01" "B0\x03q");
        const ReadoutReport report = l.OnlyReport();
        EXPECT_EQ(report.breakReply, "missing");
        EXPECT_EQ(report.anomalies.size(), 1u);
    }},
    FaultCase{"Password", Fault::Password, [](Line& l) {
        const std::string text = l.Text();
        const std::string frame = "\x01" "P0\x02(12345678)\x03";
        char bcc = 0;
        for (std::size_t i = 1; i < frame.size(); ++i)
            bcc = static_cast<char>(bcc ^ frame[i]);
        EXPECT_EQ(text.substr(19), frame + bcc);
        EXPECT_EQ(l.OnlyReport().outcome, "password");
    }},
    FaultCase{"LfOnly", Fault::LfOnly, [](Line& l) {
        const std::string text = l.Text();
        EXPECT_EQ(text.find('\r'), std::string::npos);
        EXPECT_NE(text.find("\n!\n\x03"), std::string::npos);
    }},
    FaultCase{"Unsolicited", Fault::Unsolicited, [](Line& l) {
        const std::string text = l.Text();
        const std::string first = BlockOf(text);
        const std::size_t secondAt = text.find('\x02', text.find(first) + first.size());
        ASSERT_NE(secondAt, std::string::npos);
        const std::string second = BlockOf(text, secondAt);
        EXPECT_EQ(second.back(), XorAfterStx(second));
        EXPECT_GE(LongestGap(l.sent, 19), 1s);
        EXPECT_EQ(l.OnlyReport().outcome, "complete");
    }}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(MeterSimFaults, BreakReplyFromTheReaderIsRecognised)
{
    Line line(Config({Fault::Break}));
    line.SignOn();
    line.RunUntilSent("\x01" "B0\x03q");
    line.Send("\x01" "B0\x03q");
    line.RunFor(10s);
    const ReadoutReport report = line.OnlyReport();
    EXPECT_EQ(report.breakReply, "received");
    EXPECT_TRUE(report.anomalies.empty());
}

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
        line.RunFor(std::chrono::milliseconds(random() % 2500));
    }
    line.RunFor(120s);
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
    EXPECT_NE(json.find(R"("request":"/?!\u000D\u000A")"), std::string::npos);
    EXPECT_NE(json.find(R"("identification":"/VAR5\\2\"X\"")"), std::string::npos);
    EXPECT_NE(json.find(R"("anomalies":["a\u0001"])"), std::string::npos);
}

class MeterSimDataFile : public testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << bytes;
        paths.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& path : paths)
            std::remove(path.c_str());
    }
    std::vector<std::string> paths;
};

TEST_F(MeterSimDataFile, RawCaptureSplitsAtItsIdentification)
{
    MeterConfig config;
    std::string error;
    ASSERT_TRUE(LoadDataFile(Write("echo.BIN", "\x7F/?!\r\n/ABC4XY\r\n\x06" "040\r\n\x02" "1(2)\r\n!\r\n\x03q"), config, false, error));
    EXPECT_EQ(config.preamble, "\x7F/?!\r\n");
    EXPECT_EQ(config.identification, "/ABC4XY");
    EXPECT_EQ(config.identificationEnd, "\r\n");
    EXPECT_EQ(config.raw.value_or(""), "\x06" "040\r\n\x02" "1(2)\r\n!\r\n\x03q");
}

TEST_F(MeterSimDataFile, RawCaptureWithoutIdentificationIsSentWhole)
{
    MeterConfig config;
    std::string error;
    ASSERT_TRUE(LoadDataFile(Write("noid.bin", "\x02" "0.0(/x)\r\n!\r\n\x03q"), config, false, error));
    EXPECT_EQ(config.identification, MeterConfig{}.identification);
    EXPECT_EQ(config.raw.value_or(""), "\x02" "0.0(/x)\r\n!\r\n\x03q");
}

TEST_F(MeterSimDataFile, TextLinesKeepTheirOwnEndMark)
{
    MeterConfig config;
    std::string error;
    ASSERT_TRUE(LoadDataFile(Write("lines.txt", "/XYZ5M\r\n1.8.0(1*kWh)\n96.7.5(0969)!\r\n\n"), config, true, error));
    EXPECT_EQ(config.identification, MeterConfig{}.identification);
    EXPECT_EQ(config.lines, (std::vector<std::string>{"1.8.0(1*kWh)", "96.7.5(0969)!"}));
    Line line(config);
    line.ReadModeC();
    const std::string block = BlockOf(line.Text());
    EXPECT_EQ(block.substr(0, block.size() - 1), "\x02" "1.8.0(1*kWh)\r\n96.7.5(0969)!\r\n\x03");
}

TEST_F(MeterSimDataFile, UnreadableFileIsAnError)
{
    MeterConfig config;
    std::string error;
    EXPECT_FALSE(LoadDataFile(testing::TempDir() + "does-not-exist.txt", config, false, error));
    EXPECT_NE(error.find("does-not-exist.txt"), std::string::npos);
    EXPECT_FALSE(LoadDataFile(testing::TempDir(), config, false, error));
}

} // namespace
} // namespace varnel::sim
