// varnel-read as a user runs it, against the simulated meter on a pseudo-terminal.

#include "TempDir.h"

#include "MeterData.h"
#include "PtyMeter.h"
#include "PushMeter.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

namespace varnel::test {
namespace {

struct ReadRun {
    int exitCode = -1;
    std::string out, err;
    std::vector<std::string> lines;
};

class VarnelReadTest : public ::testing::Test {
protected:
    // Starts the meter and runs one readout with `args` from a fresh folder.
    ReadRun Read(sim::MeterConfig config, QStringList args)
    {
        return Read(std::make_unique<sim::MeterProtocol>(std::move(config)), std::move(args));
    }
    ReadRun Read(std::unique_ptr<sim::MeterSide> side, QStringList args)
    {
        meter = std::make_unique<sim::PtyMeter>(std::move(side), "");
        std::string error;
        EXPECT_EQ(meter->Start(error), sim::PtyMeter::StartResult::Ok) << error;
        args.prepend(QString::fromStdString(meter->DevicePath()));
        args.prepend("--port");
        return Exec(args);
    }
    ReadRun Exec(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
        p.start(VARNEL_BINARY_DIR "/src/cli/varnel-read", args);
        ReadRun r;
        if (!p.waitForStarted(30000) || !p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "varnel-read did not finish";
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            r.lines.push_back(line.size() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
        return r;
    }
    std::string Log() const { return ReadFileBytes(dir.File("Log1107.txt")); }

    TempDir dir;
    std::unique_ptr<sim::PtyMeter> meter;
};

TEST_F(VarnelReadTest, ModeCReadoutRowsLogAndMeterReportAgree)
{
    sim::MeterConfig config;
    config.lines = {"0.0.0(12345678)", "1.8.0(001234.5*kWh)", "1.8.0*01(001200.0*kWh)", "0.9.1(12:00:00)"};
    const ReadRun r = Read(config, {"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.lines, (std::vector<std::string>{"Data,Code (OBIS),Value", "/VAR5\\2VARNEL-SIM,,",
                                                 " -- STX -- ,,", "0.0.0(12345678),0.0.0,12345678",
                                                 "1.8.0(001234.5*kWh),1.8.0,001234.5",
                                                 "1.8.0*01(001200.0*kWh),1.8.0*01,001200.0",
                                                 "0.9.1(12:00:00),0.9.1,12:00:00", "!,,", " -- ETX -- ,,",
                                                 " -- BCC -- ,,"}));
    EXPECT_EQ(Log(), "==> /?!<0D><0A>\r\n<== /VAR5\\2VARNEL-SIM\r\n==> <06>050<0D><0A>\r\n<==  -- STX -- \r\n"
                     "<== 0.0.0(12345678)\r\n<== 1.8.0(001234.5*kWh)\r\n<== 1.8.0*01(001200.0*kWh)\r\n"
                     "<== 0.9.1(12:00:00)\r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n");
    ASSERT_TRUE(meter->WaitForReports(1, std::chrono::seconds(10)));
    const auto report = meter->Reports().at(0);
    EXPECT_EQ(report.signOnBaud, 300);
    EXPECT_EQ(report.acknowledgement, "\x06" "050\r\n");
    EXPECT_EQ(report.readerBaudAtData, 9600) << "the reader switched before the block";
    EXPECT_TRUE(report.anomalies.empty()) << report.ToJson();
}

TEST_F(VarnelReadTest, TextAndJsonShowTheLabels)
{
    const ReadRun text = Read(sim::MeterConfig{}, {});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    ASSERT_GE(text.lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(text.lines.end() - 4, text.lines.end()),
              (std::vector<std::string>{"Baud rate : 9600", "Protocol : E", "FLAG : VAR",
                                        "Description : VARNEL-SIM"}));
    const ReadRun json = Exec({"--port", QString::fromStdString(meter->DevicePath()), "--format", "json",
                           "--transmit-baud", "19200"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"baudRate\": \"19200\", \"protocol\": \"E\", \"flag\": \"VAR\", "
                             "\"description\": \"VARNEL-SIM\", \"rows\": [",
                             0),
              0u)
        << json.out;
}

TEST_F(VarnelReadTest, SilentMeterEndsWithTheTimeOut)
{
    sim::MeterConfig config;
    config.faults = {sim::Fault::Silent};
    const ReadRun r = Read(config, {"--format", "csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"Data,Code (OBIS),Value", " -- Tout -- ,,"}));
}

TEST_F(VarnelReadTest, MeterVanishingMidBlockEndsWithTheTimeOut)
{
    sim::MeterConfig config;
    config.faults = {sim::Fault::Hangup};
    const ReadRun r = Read(config, {"--format", "csv"});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), " -- Tout -- ,,");
}

TEST_F(VarnelReadTest, BreakAfterTheBlockIsAnswered)
{
    sim::MeterConfig config;
    config.faults = {sim::Fault::Break};
    const ReadRun r = Read(config, {"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_GE(r.lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(r.lines.end() - 4, r.lines.end()),
              (std::vector<std::string>{" -- SOH -- ,,", " -- Break message is received  -- ,,", " -- BCC -- ,,",
                                        " -- Send break message -- ,,"}));
    ASSERT_TRUE(meter->WaitForReports(1, std::chrono::seconds(10)));
    EXPECT_EQ(meter->Reports().at(0).breakReply, "received");
}

TEST_F(VarnelReadTest, EndsWithTheTickOfTheBlockCheckEvenWhenMoreFollows)
{
    // A second block straight after the first one's check byte: the readout is
    // over, whatever the line does next.
    sim::MeterConfig config;
    std::string block = "\x02" "1.8.0(1*kWh)\r\n!\r\n\x03";
    std::uint8_t bcc = 0;
    for (std::size_t i = 1; i < block.size(); ++i)
        bcc ^= static_cast<std::uint8_t>(block[i]);
    config.raw = block + static_cast<char>(bcc) + "\x02" "0.0.0(more)\r\n";
    const ReadRun r = Read(config, {"--format", "csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), " -- BCC -- ,,"), r.lines.end());
}

TEST_F(VarnelReadTest, FastLineIsDrainedWithoutLosingALine)
{
    sim::MeterConfig config;
    for (int i = 0; i < 400; ++i)
        config.lines.push_back("1.8." + std::to_string(i) + "*" + std::to_string(i % 15) + "(000123.456*kWh)");
    const ReadRun r = Read(config, {"--format", "csv", "--transmit-baud", "57600"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 1u + 2 + 400 + 1 + 2);
    EXPECT_EQ(r.lines[3], "1.8.0*0(000123.456*kWh),1.8.0*0,000123.456");
    EXPECT_EQ(r.lines[402], "1.8.399*9(000123.456*kWh),1.8.399*9,000123.456");
}

struct FieldCase {
    std::function<std::unique_ptr<sim::MeterSide>()> meter;
    QStringList args;
    int exitCode;
    std::string row;  // a csv line expected `times` times
    long times;
};

class FieldOptionsTest : public VarnelReadTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldOptionsTest, AddressedAndPushMeters)
{
    const ReadRun r = Read(GetParam().meter(), GetParam().args + QStringList{"--format", "csv"});
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), GetParam().row), GetParam().times) << r.out;
}

std::unique_ptr<sim::MeterSide> MeterAt(const char* address)
{
    sim::MeterConfig config;
    config.address = address;
    return std::make_unique<sim::MeterProtocol>(config);
}

INSTANTIATE_TEST_SUITE_P(
    Field, FieldOptionsTest,
    ::testing::Values(FieldCase{[] { return MeterAt("4711 A"); }, {"--address", "4711 A"}, 0, " -- BCC -- ,,", 1},
                      FieldCase{[] { return MeterAt("4711 A"); }, {"--address", "4712"}, 2, " -- Tout -- ,,", 1},
                      FieldCase{[] {
                                    sim::MeterConfig c;
                                    c.lines = {"1.8.0(1*kWh)"};
                                    return std::make_unique<sim::PushMeter>(c, std::chrono::milliseconds(300), true);
                                },
                                {"--listen", "--count", "2"}, 0, "1.8.0(1*kWh),1.8.0,1", 2}));

TEST_F(VarnelReadTest, CaptureReplaysToTheSameRowsAndLogAndADamagedOneNamesItsLine)
{
    const ReadRun first = Read(sim::MeterConfig{}, {"--format", "csv", "--capture", "cap.txt"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::string log = Log();
    std::vector<sim::CaptureRecord> records;
    std::string error;
    ASSERT_EQ(sim::LoadCapture(dir.File("cap.txt"), records, error), sim::CaptureLoad::Ok) << error;
    const ReadRun again = Read(std::make_unique<sim::ReplayMeter>(records), {"--format", "csv"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.lines, first.lines);
    EXPECT_EQ(Log(), log);

    std::ofstream(dir.File("bad.txt")) << "# capture\n0 > 2F\n40 < 2F 3G\n";
    QProcess sim;
    sim.start(VARNEL_BINARY_DIR "/tools/meter-sim/varnel-meter-sim", {"--replay", QString::fromStdString(dir.File("bad.txt"))});
    ASSERT_TRUE(sim.waitForFinished(30000));
    EXPECT_EQ(sim.exitCode(), 65);
    EXPECT_NE(sim.readAllStandardError().toStdString().find("bad.txt:3: '3G' is not a byte"), std::string::npos);
}

TEST_F(VarnelReadTest, BadPortAndBadArgumentsSayWhy)
{
    const ReadRun missing = Exec({"--port", "/dev/varnel-no-such-device"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.rfind("Open port COM error: /dev/varnel-no-such-device", 0), 0u) << missing.err;
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;

    const ReadRun bad = Exec({"--initial-baud", "115200"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_NE(bad.err.find("auto 300 600 1200 2400 4800 9600 19200 38400 57600"), std::string::npos);
}

} // namespace
} // namespace varnel::test
