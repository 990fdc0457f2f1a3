// varnel-read as a user runs it, against the simulated meter on a pseudo-terminal.
#include "TempDir.h"

#include "MeterData.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/QtSerialPortBackend.h"
#include "PtyMeter.h"
#include "PushMeter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <functional>
#include <tuple>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Row = std::tuple<std::string, std::string, std::string>; // data, code, value

struct Readout {
    int exitCode = -1;
    std::string out, err, log;
    std::vector<Row> rows; // of --format json
};

std::unique_ptr<sim::MeterSide> Meter(sim::MeterConfig config)
{
    return std::make_unique<sim::MeterProtocol>(config);
}

class VarnelRead : public testing::Test {
protected:
    void Serve(std::unique_ptr<sim::MeterSide> side)
    {
        meter = std::make_unique<sim::PtyMeter>(std::move(side), link);
        std::string error;
        EXPECT_EQ(meter->Start(error), sim::PtyMeter::StartResult::Ok) << error;
        device = meter->DevicePath();
    }
    Readout Read(std::unique_ptr<sim::MeterSide> side, QStringList args = {"--format", "json"})
    {
        Serve(std::move(side));
        return Exec(QStringList{"--port", QString::fromStdString(device)} + args);
    }
    Readout Exec(const QStringList& args)
    {
        QProcess p;
        const QString home = QString::fromStdString(dir.Path().string());
        p.setEnvironment(QProcess::systemEnvironment()
                         << "XDG_CONFIG_HOME=" + home); // no settings of the user's
        p.setWorkingDirectory(home);
        p.start(VARNEL_BINARY_DIR "/src/cli/varnel-read", args);
        EXPECT_TRUE(p.waitForFinished(180000))
            << "varnel-read did not finish: " << p.errorString().toStdString();
        Readout r{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                  p.readAllStandardOutput().toStdString(),
                  p.readAllStandardError().toStdString(),
                  ReadFileBytes(dir.File("Log1107.txt")),
                  {}};
        for (const QJsonValue v : QJsonDocument::fromJson(QByteArray::fromStdString(r.out))["rows"].toArray())
            r.rows.emplace_back(v["data"].toString().toStdString(), v["code"].toString().toStdString(),
                                v["value"].toString().toStdString());
        return r;
    }
    sim::ReadoutReport Report()
    {
        EXPECT_TRUE(meter->WaitForReports(1, 20s)) << "the meter saw no readout end";
        return meter->Reports().empty() ? sim::ReadoutReport{} : meter->Reports().front();
    }

    TempDir dir;
    const std::string link = dir.File("meter");
    std::unique_ptr<sim::PtyMeter> meter;
    std::string device; // the first one the meter made
};

TEST_F(VarnelRead, ModeCReadoutRowsLogAndMeterReportAgree)
{
    sim::MeterConfig config;
    config.lines = {"0.0.0(12345678)", "1.8.0(001234.5*kWh)", "1.8.0*01(001200.0*kWh)", "0.9.1(12:00:00)"};
    const Readout r = Read(Meter(config), {"--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Data,Code (OBIS),Value,Unit\r\n/VAR5\\2VARNEL-SIM,,,\r\n -- STX -- "
              ",,,\r\n0.0.0(12345678),0.0.0,12345678,\r\n"
              "1.8.0(001234.5*kWh),1.8.0,001234.5,kWh\r\n1.8.0*01(001200.0*kWh),1.8.0*01,001200.0,kWh\r\n"
              "0.9.1(12:00:00),0.9.1,12:00:00,\r\n!,,,\r\n -- ETX -- ,,,\r\n -- BCC -- ,,,\r\n");
    EXPECT_EQ(r.log, "==> /?!<0D><0A>\r\n<== /VAR5\\2VARNEL-SIM\r\n==> <06>050<0D><0A>\r\n<==  -- STX -- \r\n"
                     "<== 0.0.0(12345678)\r\n<== 1.8.0(001234.5*kWh)\r\n<== 1.8.0*01(001200.0*kWh)\r\n"
                     "<== 0.9.1(12:00:00)\r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n");
    // No anomaly: the reader signed on at 300 and switched before the block.
    EXPECT_EQ(Report().acknowledgement + std::to_string(Report().anomalies.size()), "\006050\r\n0")
        << Report().ToJson();

    // The meter serves one readout after another: the same as text and as JSON.
    const std::string text = Exec({"--port", QString::fromStdString(device)}).out;
    EXPECT_EQ(
        text.substr(text.rfind("\n -- ETX")),
        "\n -- ETX -- \n -- BCC -- \nBaud rate : 9600\nProtocol : E\nFLAG : VAR\nDescription : VARNEL-SIM\n");
    const Readout json =
        Exec({"--port", QString::fromStdString(device), "--format", "json", "--transmit-baud", "19200"});
    EXPECT_EQ(
        json.out.substr(0, 92),
        R"({"baudRate": "19200", "protocol": "E", "flag": "VAR", "description": "VARNEL-SIM", "rows": [)");
}

TEST_F(VarnelRead, WindowReadsTheMeterIntoListLabelsAndLog)
{
    sim::MeterConfig config;
    config.identification = "/XYZ4\\2E-Meter 7";
    config.lines = {"0.0.0(87654321)", "1.8.0(000042.1*kWh)", "1.8.0*01(000040.0*kWh)", "32.7(231*V)", ""};
    Serve(Meter(config));
    int argc = 1;
    char* argv[] = {const_cast<char*>("VarnelReadTest")};
    QApplication app(argc, argv);
    PortNames names;
    names.SetMapping(5, device);
    QtSerialPortBackend port;
    SystemClock clock;
    WindowSettings settings;
    settings.portIndex = 4; // COM5, mapped to the meter
    CReadoutDlg dlg(port, clock, names, settings, dir.File("Log1107.txt"));
    std::string messages;
    dlg.SetMessageHandler([&](const std::string& text, MessageIcon) { messages += text + '\n'; });
    dlg.show();
    dlg.OnRead();
    for (const auto end = std::chrono::steady_clock::now() + 60s;
         dlg.Core().engine.State() != READ_IDLE && std::chrono::steady_clock::now() < end;)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(dlg.Core().engine.LastEnd(), ReadoutEnd::BlockCheck);

    QStringList rows, labels;
    for (int r = 0; r < dlg.Rows()->RowsAdded(); ++r)
        rows << QStringList{dlg.Rows()->Text(r, 0), dlg.Rows()->Text(r, 1), dlg.Rows()->Text(r, 2)}.join('|');
    EXPECT_EQ(rows,
              (QStringList{"/XYZ4\\2E-Meter 7||", " -- STX -- ||", "0.0.0(87654321)|0.0.0|87654321",
                           "1.8.0(000042.1*kWh)|1.8.0|000042.1", "1.8.0*01(000040.0*kWh)|1.8.0*01|000040.0",
                           "32.7(231*V)|32.7|231", "||", "!||", " -- ETX -- ||", " -- BCC -- ||"}))
        << rows.join('\n').toStdString();
    for (const int id : {IDC_BAUD_LABEL, IDC_PROTOCOL_LABEL, IDC_FLAG_LABEL, IDC_DESCRIPTION_LABEL})
        labels << dlg.findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))->text();
    EXPECT_EQ(labels.join('|'), "4800|E|XYZ|E-Meter 7");
    EXPECT_NE(ReadFileBytes(dir.File("Log1107.txt")).find("<== 32.7(231*V)\r\n<== \r\n<== !\r\n"),
              std::string::npos);
    EXPECT_EQ(Report().acknowledgement + std::to_string(Report().readerBaudAtData), "\006040\r\n4800");
    dlg.done(QDialog::Rejected);
}

TEST_F(VarnelRead, FastLineIsDrainedWithoutLosingALineAndItsCaptureReplaysToTheSameRowsAndLog)
{
    sim::MeterConfig config;
    for (int i = 0; i < 400; ++i)
        config.lines.push_back("1.8." + std::to_string(i) + "*" + std::to_string(i % 15)
                               + "(000123.456*kWh)");
    const Readout first =
        Read(Meter(config), {"--format", "json", "--transmit-baud", "57600", "--capture", "cap.txt"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_EQ(first.rows.size(), 2 + 400 + 3u);
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(first.rows[2 + i],
                  Row(config.lines[i], config.lines[i].substr(0, config.lines[i].find('(')), "000123.456"));
    std::vector<sim::CaptureRecord> records;
    std::string error;
    ASSERT_EQ(sim::LoadCapture(dir.File("cap.txt"), records, error), sim::CaptureLoad::Ok) << error;
    const Readout again =
        Read(std::make_unique<sim::ReplayMeter>(records), {"--format", "json", "--transmit-baud", "57600"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.rows, first.rows);
    EXPECT_EQ(again.log, first.log);
}

struct LineCase {
    const char* name;
    std::function<void(sim::MeterConfig&)> meter; // a push meter when read with --listen
    QStringList args;
    int exitCode;
    Lines rows; // the data of rows in a row
    enum { First, Last, Whole } where;
    std::string
        report; // the meter's outcome/break reply/reader's rate at the block; empty: it saw no readout
};

void PrintTo(const LineCase& c, std::ostream* out)
{
    *out << c.name;
}

class VarnelReadLine : public VarnelRead, public testing::WithParamInterface<LineCase> {};

TEST_P(VarnelReadLine, EndsAsTheLineDoes)
{
    const LineCase& c = GetParam();
    sim::MeterConfig config;
    c.meter(config);
    const bool push = c.args.contains("--listen");
    const Readout r = Read(push ? std::make_unique<sim::PushMeter>(config, 300ms, true) : Meter(config),
                           QStringList{"--format", "json"} + c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    Lines data;
    for (const Row& row : r.rows)
        data.push_back(std::get<0>(row));
    const auto at = std::search(data.begin(), data.end(), c.rows.begin(), c.rows.end());
    EXPECT_TRUE(at != data.end() && (c.where == c.First || at + c.rows.size() == data.end())
                && (c.where == c.Last || at == data.begin()))
        << r.out;
    EXPECT_TRUE(
        !push // a push meter's labels come from its telegram
        || r.out.rfind(
               R"({"baudRate": "9600", "protocol": "D", "flag": "VAR", "description": "VARNEL-SIM", "rows": [)",
               0)
               == 0);
    if (c.report.empty())
        EXPECT_TRUE(meter->Reports().empty());
    else
        EXPECT_EQ(Report().outcome + "/" + Report().breakReply + "/"
                      + std::to_string(Report().readerBaudAtData),
                  c.report);
    // A hang-up leaves a fresh device behind the link, which the link follows.
    EXPECT_EQ(meter->DevicePath() != device, c.report.rfind("hangup", 0) == 0);
    EXPECT_EQ(fs::read_symlink(link).string(), meter->DevicePath());
    EXPECT_TRUE(fs::exists(link)) << "the link leads nowhere";
    meter->Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, VarnelReadLine,
    testing::Values(
        LineCase{"Silent",
                 [](auto& c) { c.faults = {sim::Fault::Silent}; },
                 {},
                 2,
                 {" -- Tout -- "},
                 LineCase::Whole,
                 "silent//0"},
        LineCase{"HangupMidBlock",
                 [](auto& c) { c.faults = {sim::Fault::Hangup}; },
                 {},
                 2,
                 {" -- Tout -- "},
                 LineCase::Last,
                 "hangup//9600"},
        LineCase{"BreakAfterBlockIsAnswered",
                 [](auto& c) { c.faults = {sim::Fault::Break}; },
                 {},
                 0,
                 {" -- SOH -- ", " -- Break message is received  -- ", " -- BCC -- ",
                  " -- Send break message -- "},
                 LineCase::Last,
                 "complete/received/9600"},
        LineCase{"PushMeterBadCrc",
                 [](auto& c) {
                     c.lines = {"1.8.0(1*kWh)"};
                     c.faults = {sim::Fault::BadCrc};
                 },
                 {"--listen"},
                 3,
                 {"1.8.0(1*kWh)", "!1617", " -- CRC error -- ", " -- ETX -- ", " -- BCC -- "},
                 LineCase::Last,
                 "complete//0"},
        LineCase{"OverAtTheBlockCheckWhateverFollows",
                 [](auto& c) { c.raw = "\0021.8.0(1*kWh)\r\n!\r\n\003U\0020.0(1)\r\n"; },
                 {},
                 0,
                 {"/VAR5\\2VARNEL-SIM", " -- STX -- ", "1.8.0(1*kWh)", "!", " -- ETX -- ", " -- BCC -- "},
                 LineCase::First,
                 "complete//9600"},
        LineCase{"AddressedMeter",
                 [](auto& c) { c.address = "4711 A"; },
                 {"--address", "4711 A"},
                 0,
                 {"!", " -- ETX -- ", " -- BCC -- "},
                 LineCase::Last,
                 "complete//9600"},
        LineCase{"OtherMetersAddress",
                 [](auto& c) { c.address = "4711 A"; },
                 {"--address", "4712"},
                 2,
                 {" -- Tout -- "},
                 LineCase::Whole,
                 ""},
        // A blank line but the one after the identification is a row.
        LineCase{"PushMeterTwoTelegrams",
                 [](auto& c) {
                     c.lines = {"1.8.0(1*kWh)", ""};
                 },
                 {"--listen", "--count", "2"},
                 0,
                 {"/VAR5\\2VARNEL-SIM", "1.8.0(1*kWh)", "", "!", " -- ETX -- ", " -- BCC -- ", " -- STX -- ",
                  "/VAR5\\2VARNEL-SIM", "1.8.0(1*kWh)", "", "!", " -- ETX -- ", " -- BCC -- "},
                 LineCase::Last,
                 "complete//0"}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// SIGTERM in the middle of a readout: a whole JSON object, and the log's last record whole.
TEST_F(VarnelRead, StopSignalEndsAReadoutCleanly)
{
    sim::MeterConfig config;
    config.faults = {sim::Fault::Stall};
    Serve(Meter(config));
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    p.start(VARNEL_BINARY_DIR "/src/cli/varnel-read",
            {"--port", QString::fromStdString(device), "--format", "json"});
    for (const auto end = std::chrono::steady_clock::now() + 60s;
         ReadFileBytes(dir.File("Log1107.txt")).find(" -- STX -- \r\n") == std::string::npos
         && std::chrono::steady_clock::now() < end;)
        p.waitForFinished(100);
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 143);
    const QJsonDocument json = QJsonDocument::fromJson(p.readAllStandardOutput());
    EXPECT_EQ(json["rows"][1]["data"].toString() + json["blockCheck"].toString(), " -- STX -- none");
    const std::string log = ReadFileBytes(dir.File("Log1107.txt"));
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(VarnelRead, BadPortBadArgumentsALinkOverAFileAndADamagedCaptureSayWhy)
{
    const Readout missing = Exec({"--port", "/dev/varnel-no-such-device"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Open port COM error: /dev/varnel-no-such-device: No such file or directory\n");

    const Readout bad = Exec({"--initial-baud", "115200"});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_EQ(
        bad.err.substr(0, bad.err.find('\n')),
        "varnel-read: --initial-baud takes auto 300 600 1200 2400 4800 9600 19200 38400 57600, not '115200'");

    std::ofstream(link) << "keep";
    sim::PtyMeter refused(sim::MeterConfig{}, link);
    std::string error;
    EXPECT_EQ(refused.Start(error), sim::PtyMeter::StartResult::LinkFailed);
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(link), "keep");

    std::ofstream(dir.File("bad.txt")) << "# capture\n0 > 2F\n40 < 2F 3G\n";
    QProcess sim;
    sim.start(VARNEL_BINARY_DIR "/tools/meter-sim/varnel-meter-sim",
              {"--replay", QString::fromStdString(dir.File("bad.txt"))});
    ASSERT_TRUE(sim.waitForFinished(30000));
    EXPECT_EQ(sim.exitCode(), 65);
    EXPECT_NE(sim.readAllStandardError().toStdString().find("bad.txt:3: '3G' is not a byte"),
              std::string::npos);
}

// The reader's row rules, written out independently, from the sign-on to the block check or the time-out:
// bytes count with 7 bits; a line's text ends at the CR of CR LF, a lone LF or a NUL; a value at '*' or ')';
// a push meter's telegram ends at its "!" line; a block check byte is the XOR of the bytes after STX up to
// ETX or EOT. (The corpus's P1 CRCs are all good: a CRC error row fails the comparison.)
std::vector<Row> ReferenceRows(const std::string& received, bool push)
{
    enum { Ident, AwaitStx, Data, AwaitBcc } state = Ident;
    std::vector<Row> rows;
    std::string line;
    char bcc = 0;
    const auto plain = [&](const std::string& t) { rows.emplace_back(t, "", ""); };
    for (const char raw : received) {
        const char c = static_cast<char>(raw & 0x7F);
        line += c;
        if (line.size() == 1000)
            ADD_FAILURE() << "a line of 1000 bytes or more: rows depend on read boundaries";
        bcc = state == Data ? bcc ^ c : state == AwaitBcc ? bcc : 0;
        const std::string text = line.substr(
            0, std::min(line.find('\0'),
                        line.size() - (line.size() >= 2 && line[line.size() - 2] == '\r' ? 2 : 1)));
        if (state == AwaitStx) {
            plain(c == '\x02' ? " -- STX -- "
                              : QString::asprintf("--- 0x%02X ---", static_cast<unsigned>(c)).toStdString());
            state = c == '\x02' ? Data : AwaitStx;
            line.clear();
        } else if (state == Ident && c == '\n') {
            plain(line[0] == '/' ? text : " -- Identification error -- ");
            if (line != "/?!\r\n") // a probe's echo of the request
                state = push ? Data : AwaitStx;
            line.clear();
        } else if (state == Data && c == '\n') {
            Row row{text, "", ""};
            if (const auto open = text.find('('); open != std::string::npos && open > 0) {
                std::get<1>(row) = text.substr(0, open);
                if (const auto close = text.find_first_of("*)", open); close != std::string::npos)
                    std::get<2>(row) = text.substr(open + 1, close - open - 1);
            }
            rows.push_back(row);
            line.clear();
            if (push && text[0] == '!')
                return rows;
        } else if (state == Data && (c == '\x03' || c == '\x04')) {
            plain(c == '\x03' ? " -- ETX -- " : " -- EOT -- ");
            state = AwaitBcc;
        } else if (state == AwaitBcc) {
            plain(" -- BCC -- ");
            if (c != bcc)
                plain(QString::asprintf(" -- BCC error (0x%02X, expected 0x%02X) -- ", c, bcc).toStdString());
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
        if (const auto ext = entry.path().extension();
            entry.is_regular_file() && (ext == ".bin" || ext == ".txt"))
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
    const bool push =
        GetParam().find("modeD") != std::string::npos || GetParam().find("_p1") != std::string::npos;
    const Readout run =
        push ? Read(std::make_unique<sim::PushMeter>(config, 500ms, false), {"--format", "json", "--listen"})
             : Read(Meter(config));
    sim::ReadoutReport report = Report();
    EXPECT_EQ(report.outcome + std::to_string(report.signOnBaud), push ? "complete0" : "complete300");
    // A telegram's blank line after the identification shows as no row.
    const auto expected =
        ReferenceRows(push ? report.sent.erase(report.sent.find("\r\n\r\n"), 2) : report.sent, push);
    const std::string& last = std::get<0>(expected.back());
    EXPECT_EQ(run.exitCode, last == " -- Tout -- "                ? 2
                            : last.rfind(" -- BCC error", 0) == 0 ? 3
                                                                  : 0)
        << run.err;
    EXPECT_EQ(run.rows, expected);
    EXPECT_FALSE(run.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Captures, Corpus, testing::ValuesIn(Captures()));

} // namespace
} // namespace varnel::test
