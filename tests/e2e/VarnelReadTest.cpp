// varnel-read as a user runs it, against the simulated meter on a pseudo-terminal.
#include "TempDir.h"

#include "MeterData.h"
#include "PtyMeter.h"
#include "PushMeter.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

struct Row {
    std::string data, code, value;
    bool operator==(const Row& o) const { return data == o.data && code == o.code && value == o.value; }
};

std::ostream& operator<<(std::ostream& out, const Row& r)
{
    return out << '[' << r.data << "] [" << r.code << "] [" << r.value << ']';
}

struct Readout {
    int exitCode = -1;
    std::string out, err, log;
    Lines lines;            // stdout, without line ends
    std::vector<Row> rows;  // of --format json
    Lines Data() const
    {
        Lines data;
        for (const Row& r : rows)
            data.push_back(r.data);
        return data;
    }
};

std::unique_ptr<sim::MeterSide> Meter(sim::MeterConfig config)
{
    return std::make_unique<sim::MeterProtocol>(std::move(config));
}

class VarnelRead : public testing::Test {
protected:
    // Serves `side` on a fresh pseudo-terminal, behind a link, and reads it as `args` ask.
    Readout Read(std::unique_ptr<sim::MeterSide> side, QStringList args = {"--format", "json"})
    {
        meter = std::make_unique<sim::PtyMeter>(std::move(side), link);
        std::string error;
        if (meter->Start(error) != sim::PtyMeter::StartResult::Ok) {
            ADD_FAILURE() << error;
            return {};
        }
        device = meter->DevicePath();
        return Exec(QStringList{"--port", QString::fromStdString(device)} + args);
    }
    Readout Exec(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.Path().string()));
        p.setProcessEnvironment(env);
        p.start(VARNEL_BINARY_DIR "/src/cli/varnel-read", args);
        Readout r;
        if (!p.waitForStarted(30000) || !p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "varnel-read did not finish: " << p.errorString().toStdString();
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput().toStdString();
        r.err = p.readAllStandardError().toStdString();
        r.log = ReadFileBytes(dir.File("Log1107.txt"));
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            r.lines.push_back(line.size() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
        for (const auto& v : QJsonDocument::fromJson(QByteArray::fromStdString(r.out))["rows"].toArray()) {
            const auto field = [&](const char* key) { return v.toObject()[key].toString().toStdString(); };
            r.rows.push_back({field("data"), field("code"), field("value")});
        }
        return r;
    }
    sim::ReadoutReport Report()
    {
        if (!meter->WaitForReports(1, 20s)) {
            ADD_FAILURE() << "the meter saw no readout end";
            return {};
        }
        return meter->Reports().front();
    }

    TempDir dir;
    const std::string link = dir.File("meter");
    std::unique_ptr<sim::PtyMeter> meter;
    std::string device;  // the first one the meter made
};

TEST_F(VarnelRead, ModeCReadoutRowsLogAndMeterReportAgree)
{
    sim::MeterConfig config;
    config.lines = {"0.0.0(12345678)", "1.8.0(001234.5*kWh)", "1.8.0*01(001200.0*kWh)", "0.9.1(12:00:00)"};
    const Readout r = Read(Meter(config), {"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.lines, (Lines{"Data,Code (OBIS),Value", "/VAR5\\2VARNEL-SIM,,", " -- STX -- ,,",
                              "0.0.0(12345678),0.0.0,12345678", "1.8.0(001234.5*kWh),1.8.0,001234.5",
                              "1.8.0*01(001200.0*kWh),1.8.0*01,001200.0", "0.9.1(12:00:00),0.9.1,12:00:00", "!,,",
                              " -- ETX -- ,,", " -- BCC -- ,,"}));
    EXPECT_EQ(r.log, "==> /?!<0D><0A>\r\n<== /VAR5\\2VARNEL-SIM\r\n==> <06>050<0D><0A>\r\n<==  -- STX -- \r\n"
                     "<== 0.0.0(12345678)\r\n<== 1.8.0(001234.5*kWh)\r\n<== 1.8.0*01(001200.0*kWh)\r\n"
                     "<== 0.9.1(12:00:00)\r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n");
    const sim::ReadoutReport report = Report();
    EXPECT_EQ(report.signOnBaud, 300);
    EXPECT_EQ(report.acknowledgement, "\x06" "050\r\n");
    EXPECT_EQ(report.readerBaudAtData, 9600) << "the reader switched before the block";
    EXPECT_TRUE(report.anomalies.empty()) << report.ToJson();
}

TEST_F(VarnelRead, TextAndJsonShowTheLabels)
{
    const Readout text = Read(Meter({}), {});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    ASSERT_GE(text.lines.size(), 4u);
    EXPECT_EQ(Lines(text.lines.end() - 4, text.lines.end()),
              (Lines{"Baud rate : 9600", "Protocol : E", "FLAG : VAR", "Description : VARNEL-SIM"}));
    const Readout json = Exec({"--port", QString::fromStdString(device), "--format", "json", "--transmit-baud", "19200"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"baudRate\": \"19200\", \"protocol\": \"E\", \"flag\": \"VAR\", "
                             "\"description\": \"VARNEL-SIM\", \"rows\": [\n  {\"data\": \"/VAR5\\\\2VARNEL-SIM\"}", 0), 0u)
        << json.out;
}

TEST_F(VarnelRead, FastLineIsDrainedWithoutLosingALine)
{
    sim::MeterConfig config;
    for (int i = 0; i < 400; ++i)
        config.lines.push_back("1.8." + std::to_string(i) + "*" + std::to_string(i % 15) + "(000123.456*kWh)");
    const Readout r = Read(Meter(config), {"--format", "json", "--transmit-baud", "57600"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.rows.size(), 2 + 400 + 3u);
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(r.rows[2 + i], (Row{config.lines[i], config.lines[i].substr(0, config.lines[i].find('(')), "000123.456"}));
}

struct LineCase {
    const char* name;
    std::function<std::unique_ptr<sim::MeterSide>()> meter;
    QStringList args;
    int exitCode;
    Lines rows;           // the data of rows in a row
    enum { Within, Last, Whole } where;
    std::string outcome;  // of the meter's readout; empty: it saw none
    std::string breakReply;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class VarnelReadLine : public VarnelRead, public testing::WithParamInterface<LineCase> {};

TEST_P(VarnelReadLine, EndsAsTheLineDoes)
{
    const LineCase& c = GetParam();
    const Readout r = Read(c.meter(), QStringList{"--format", "json"} + c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    const Lines data = r.Data();
    const auto at = std::search(data.begin(), data.end(), c.rows.begin(), c.rows.end());
    EXPECT_TRUE(at != data.end() && (c.where == c.Within || at + c.rows.size() == data.end())
                && (c.where != c.Whole || at == data.begin())) << r.out;
    if (c.outcome.empty()) {
        EXPECT_TRUE(meter->Reports().empty());
    } else {
        const sim::ReadoutReport report = Report();
        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(report.breakReply, c.breakReply);
    }
    // A hang-up leaves a fresh device behind the link, which the link follows.
    EXPECT_EQ(meter->DevicePath() != device, c.outcome == "hangup");
    EXPECT_EQ(fs::read_symlink(link).string(), meter->DevicePath());
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << "the link leads nowhere";
    if (fd >= 0)
        ::close(fd);
    meter->Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

sim::MeterConfig With(std::function<void(sim::MeterConfig&)> change)
{
    sim::MeterConfig config;
    change(config);
    return config;
}

const Lines kBlockEnd{"!", " -- ETX -- ", " -- BCC -- "};

INSTANTIATE_TEST_SUITE_P(Table, VarnelReadLine, testing::Values(
    LineCase{"Silent", [] { return Meter(With([](auto& c) { c.faults = {sim::Fault::Silent}; })); }, {}, 2,
             {" -- Tout -- "}, LineCase::Whole, "silent", ""},
    LineCase{"HangupMidBlock", [] { return Meter(With([](auto& c) { c.faults = {sim::Fault::Hangup}; })); }, {}, 2,
             {" -- Tout -- "}, LineCase::Last, "hangup", ""},
    LineCase{"BreakAfterBlockIsAnswered", [] { return Meter(With([](auto& c) { c.faults = {sim::Fault::Break}; })); },
             {}, 0, {" -- SOH -- ", " -- Break message is received  -- ", " -- BCC -- ", " -- Send break message -- "},
             LineCase::Last, "complete", "received"},
    LineCase{"OverAtTheBlockCheckWhateverFollows", [] { return Meter(With([](auto& c) {
                 const std::string block = "\x02" "1.8.0(1*kWh)\r\n!\r\n\x03";
                 char bcc = 0;
                 for (std::size_t i = 1; i < block.size(); ++i)
                     bcc = static_cast<char>(bcc ^ block[i]);
                 c.raw = block + bcc + "\x02" "0.0.0(more)\r\n";
             })); }, {}, 0, {" -- STX -- ", "1.8.0(1*kWh)", "!", " -- ETX -- ", " -- BCC -- "}, LineCase::Within, "complete", ""},
    LineCase{"AddressedMeter", [] { return Meter(With([](auto& c) { c.address = "4711 A"; })); },
             {"--address", "4711 A"}, 0, kBlockEnd, LineCase::Last, "complete", ""},
    LineCase{"OtherMetersAddress", [] { return Meter(With([](auto& c) { c.address = "4711 A"; })); },
             {"--address", "4712"}, 2, {" -- Tout -- "}, LineCase::Whole, "", ""},
    LineCase{"PushMeterTwoTelegrams", [] {
                 return std::make_unique<sim::PushMeter>(With([](auto& c) { c.lines = {"1.8.0(1*kWh)"}; }), 300ms, true);
             }, {"--listen", "--count", "2"}, 0, Lines{"/VAR5\\2VARNEL-SIM", "1.8.0(1*kWh)", "!", " -- ETX -- ", " -- BCC -- ",
             " -- STX -- ", "/VAR5\\2VARNEL-SIM", "1.8.0(1*kWh)", "!", " -- ETX -- ", " -- BCC -- "}, LineCase::Last, "complete", ""}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST_F(VarnelRead, CaptureReplaysToTheSameRowsAndLogAndADamagedOneNamesItsLine)
{
    const Readout first = Read(Meter({}), {"--format", "csv", "--capture", "cap.txt"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    std::vector<sim::CaptureRecord> records;
    std::string error;
    ASSERT_EQ(sim::LoadCapture(dir.File("cap.txt"), records, error), sim::CaptureLoad::Ok) << error;
    const Readout again = Read(std::make_unique<sim::ReplayMeter>(records), {"--format", "csv"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.lines, first.lines);
    EXPECT_EQ(again.log, first.log);

    std::ofstream(dir.File("bad.txt")) << "# capture\n0 > 2F\n40 < 2F 3G\n";
    QProcess sim;
    sim.start(VARNEL_BINARY_DIR "/tools/meter-sim/varnel-meter-sim", {"--replay", QString::fromStdString(dir.File("bad.txt"))});
    ASSERT_TRUE(sim.waitForFinished(30000));
    EXPECT_EQ(sim.exitCode(), 65);
    EXPECT_NE(sim.readAllStandardError().toStdString().find("bad.txt:3: '3G' is not a byte"), std::string::npos);
}

TEST_F(VarnelRead, BadPortBadArgumentsAndALinkOverAFileSayWhy)
{
    const Readout missing = Exec({"--port", "/dev/varnel-no-such-device"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.rfind("Open port COM error: /dev/varnel-no-such-device", 0), 0u) << missing.err;
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;

    const Readout bad = Exec({"--initial-baud", "115200"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_NE(bad.err.find("auto 300 600 1200 2400 4800 9600 19200 38400 57600"), std::string::npos);

    std::ofstream(link) << "keep";
    sim::PtyMeter refused(sim::MeterConfig{}, link);
    std::string error;
    EXPECT_EQ(refused.Start(error), sim::PtyMeter::StartResult::LinkFailed);
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(link), "keep");
}

// The reader's row rules, written out independently as an oracle, for a readout
// from the sign-on to the block check or the time-out: bytes count with 7 bits;
// a line's text ends at the CR of CR LF, a lone LF or a NUL; a value at '*' or ')'.
std::vector<Row> ReferenceRows(const std::string& received, bool& endedAtBcc, bool& overflow)
{
    enum { Ident, AwaitStx, Data, AwaitBcc } state = Ident;
    std::vector<Row> rows;
    std::string line;
    const auto text = [&] {
        std::string t = line;
        if (t.size() >= 2 && t.compare(t.size() - 2, 2, "\r\n") == 0)
            t.resize(t.size() - 2);
        else if (!t.empty() && t.back() == '\n')
            t.pop_back();
        return t.substr(0, t.find('\0'));
    };
    const auto plain = [&](const std::string& t) { rows.push_back({t, {}, {}}); };
    endedAtBcc = overflow = false;
    for (const char raw : received) {
        const char c = static_cast<char>(raw & 0x7F);
        line += c;
        if (line.size() > 999) {
            overflow = true;
            return rows;
        }
        if (state == AwaitStx) {
            if (c == '\x02') {
                plain(" -- STX -- ");
                state = Data;
                line.clear();
                continue;
            }
            char hex[16];
            std::snprintf(hex, sizeof hex, "--- 0x%02X ---", static_cast<unsigned>(c));
            plain(hex);
        } else if (state == Ident && c == '\n') {
            plain(line[0] == '/' ? text() : " -- Identification error -- ");
            if (line != "/?!\r\n") // a probe's echo of the request
                state = AwaitStx;
            line.clear();
        } else if (state == Data && c == '\n') {
            const std::string t = text();
            Row row{t, {}, {}};
            if (const auto open = t.find('('); open != std::string::npos && open > 0) {
                row.code = t.substr(0, open);
                if (const auto close = t.find_first_of("*)", open); close != std::string::npos)
                    row.value = t.substr(open + 1, close - open - 1);
            }
            rows.push_back(row);
            line.clear();
        } else if (state == Data && (c == '\x03' || c == '\x04')) {
            plain(c == '\x03' ? " -- ETX -- " : " -- EOT -- ");
            state = AwaitBcc;
        } else if (state == AwaitBcc) {
            plain(" -- BCC -- ");
            endedAtBcc = true;
            return rows;
        }
    }
    plain(" -- Tout -- ");
    return rows;
}

Lines Captures()
{
    Lines names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(VARNEL_CORPUS_DIR, ec))
        if (const auto ext = entry.path().extension(); entry.is_regular_file() && (ext == ".bin" || ext == ".txt"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names.empty() ? Lines{"none"} : names; // "none" says why it skips
}

class Corpus : public VarnelRead, public testing::WithParamInterface<std::string> {};

TEST_P(Corpus, ReaderRowsMatchTheBytesSent)
{
    if (GetParam() == "none")
        GTEST_SKIP() << "no captures: the corpus folder " << VARNEL_CORPUS_DIR << " is absent or empty";
    sim::MeterConfig config;
    std::string error;
    ASSERT_TRUE(sim::LoadDataFile(VARNEL_CORPUS_DIR "/" + GetParam(), config, false, error)) << error;
    // Push meters (mode D, P1) are served as such and read with --listen.
    const bool push = GetParam().find("modeD") != std::string::npos || GetParam().find("_p1") != std::string::npos;
    auto pushMeter = std::make_unique<sim::PushMeter>(config, 500ms, false);
    const std::string telegram = pushMeter->Telegram();
    const Readout run = push ? Read(std::move(pushMeter), {"--format", "json", "--listen"}) : Read(Meter(config));
    const sim::ReadoutReport report = Report();
    EXPECT_EQ(report.outcome, "complete");
    EXPECT_EQ(report.signOnBaud, push ? 0 : 300);
    bool endedAtBcc = false, overflow = false;
    std::vector<Row> expected;
    if (push) {
        // A telegram's rows are a block's without STX, ETX and BCC, up to its "!" line.
        const std::size_t blank = telegram.find("\r\n\r\n") + 4, end = telegram.find("\n!", blank);
        expected = ReferenceRows(telegram.substr(0, blank - 2) + "\x02"
                + telegram.substr(blank, telegram.find('\n', end + 1) + 1 - blank) + "\x03\x01", endedAtBcc, overflow);
        expected.erase(std::remove_if(expected.begin(), expected.end(), [](const Row& r) {
            return r.data == " -- STX -- " || r.data == " -- ETX -- " || r.data == " -- BCC -- ";
        }), expected.end());
    } else {
        expected = ReferenceRows(report.sent, endedAtBcc, overflow);
    }
    ASSERT_FALSE(overflow) << "a line of 1000 bytes or more: rows depend on read boundaries";
    EXPECT_EQ(run.exitCode, endedAtBcc ? 0 : 2) << run.err;
    EXPECT_EQ(run.rows, expected);
    EXPECT_FALSE(run.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Captures, Corpus, testing::ValuesIn(Captures()), [](const auto& info) {
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
});

} // namespace
} // namespace varnel::test
