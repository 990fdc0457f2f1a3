// varnel-read and the window against the simulated meter on pseudo-terminals, ser2net, raw TCP; the corpus.
#include "Ser2net.h"
#include "TempDir.h"

#include "MeterData.h"
#include "PtyMeter.h"
#include "PushMeter.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "StartSettings.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/NetworkPort.h"
#include "serial/PortRouter.h"
#include "serial/QtSerialPortBackend.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <sys/ioctl.h>
#include <sys/times.h>
#include <unistd.h>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Row = std::tuple<std::string, std::string, std::string>; // data, code, value

struct Readout {
    int exitCode = -1; // -1: killed
    std::string out, err, log;
    std::vector<Row> rows; // of --format json
};

using Watch = std::function<void(QProcess&, const std::string& out)>;

// Signals the program while it runs; a process that has ended has id 0, which would signal the test's own
// process group.
bool Signal(const QProcess& p, int signal)
{
    return p.processId() > 0 && ::kill(pid_t(p.processId()), signal) == 0;
}

// A program of the build in `dir`, with no settings of the user's; `watch` sees it running and its output.
Readout Exec(const TempDir& dir, const QStringList& args, const Watch& watch = {},
             const char* program = "/src/cli/varnel-read")
{
    QProcess p;
    const QString home = QString::fromStdString(dir.Path().string());
    p.setEnvironment(QProcess::systemEnvironment()
                     << "XDG_CONFIG_HOME=" + home << "QT_QPA_PLATFORM=offscreen");
    p.setWorkingDirectory(home);
    p.start(VARNEL_BINARY_DIR + QString(program), args);
    EXPECT_TRUE(p.waitForStarted()) << program;
    Readout r;
    while (!p.waitForFinished(20) && p.state() != QProcess::NotRunning) {
        r.out += p.readAllStandardOutput().toStdString();
        if (watch)
            watch(p, r.out);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out += p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    if (fs::is_regular_file(dir.Path() / "Log1107.txt"))
        r.log = ReadFileBytes(dir.Path() / "Log1107.txt");
    for (const QJsonValue v : QJsonDocument::fromJson(QByteArray::fromStdString(r.out))["rows"].toArray())
        r.rows.emplace_back(v["data"].toString().toStdString(), v["code"].toString().toStdString(),
                            v["value"].toString().toStdString());
    return r;
}

QString Started(sim::PtyMeter& meter)
{
    std::string error;
    EXPECT_EQ(meter.Start(error), sim::PtyMeter::StartResult::Ok) << error;
    return QString::fromStdString(meter.DevicePath());
}

// The meter's first readout: outcome/break reply/sign-on rate/rate at the block/anomalies.
std::string Report(const sim::PtyMeter& meter)
{
    if (!meter.WaitForReports(1, 30s))
        return "none";
    const sim::ReadoutReport r = meter.Reports().front();
    return r.outcome + '/' + r.breakReply + '/' + std::to_string(r.signOnBaud) + '/'
           + std::to_string(r.readerBaudAtData) + '/' + std::to_string(r.anomalies.size());
}

double ChildrenCpuSeconds()
{
    tms t{};
    times(&t);
    return double(t.tms_cutime + t.tms_cstime) / double(sysconf(_SC_CLK_TCK));
}

// The window reading through the settings' [Ports] entry COM40: 0 or 2 as varnel-read, then its text.
Readout ReadInTheWindow(const std::string& port, const TempDir& dir)
{
    std::ofstream(dir.File("Varnel.ini")) << "[Varnel]\nPortCOM=39\n[Ports]\nCOM40=" << port << "\n";
    const StartSettings start = LoadStartSettings(dir.File("Varnel.ini"));
    int argc = 1;
    char* argv[] = {const_cast<char*>("VarnelReadTest")};
    QApplication app(argc, argv);
    QtSerialPortBackend serial;
    NetworkPort network;
    PortRouter router(serial, network);
    SystemClock clock;
    CReadoutDlg dlg(router, clock, start.names, start.window, dir.File("Log1107.txt"));
    std::string out;
    dlg.SetMessageHandler([&](const std::string& text, MessageIcon) { out += text + '\n'; });
    dlg.show();
    dlg.OnRead();
    while (dlg.Core().engine.State() != READ_IDLE)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    for (int r = 0; r < dlg.Rows()->RowsAdded(); ++r)
        for (int col = 0; col < 3; ++col)
            out += dlg.Rows()->Text(r, col).toStdString() + (col < 2 ? '|' : '\n');
    for (const int id : {IDC_BAUD_LABEL, IDC_PROTOCOL_LABEL, IDC_FLAG_LABEL, IDC_DESCRIPTION_LABEL})
        out += dlg.findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))->text().toStdString() + '|';
    dlg.done(QDialog::Rejected);
    return {dlg.Core().engine.LastEnd() == ReadoutEnd::BlockCheck ? 0 : 2, out, {}, {}, {}};
}

enum class Serve { Meter, PushMeter, Ser2net, MeterTcp, Silent, Nothing }; // the first three on a pty

// With `faults`, sending `lines` (the first may be the identification).
sim::MeterConfig Meter(std::vector<sim::Fault> faults, std::vector<std::string> lines = sim::BuiltInReadout())
{
    sim::MeterConfig config;
    config.faults = std::move(faults);
    if (lines[0][0] == '/')
        config.identification = lines[0];
    config.lines.assign(lines.begin() + (lines[0][0] == '/'), lines.end());
    return config;
}

struct Case {
    const char* name;
    Serve serve;
    sim::MeterConfig meter; // answering to 4711 A when varnel-read gives an address
    const char* args;       // varnel-read's beside --port; "window": the window reads through COM40 instead
    int exitCode;
    std::string expected;  // in stdout, stderr, "--" and the log, or the window's; "..." between pieces
    const char* report;    // the meter's first readout as Report has it; empty: none asked for
    const char* port = ""; // after the served port's name; with nothing served the name, %1 a free port
    const char* log = "";  // where the trace log Log1107.txt links to
    const char* killAt = nullptr; // once the log shows this, ser2net is killed, or the reader gets `signal`
    int signal = 0;
};

class Readouts : public testing::TestWithParam<Case> {};

TEST_P(Readouts, EndAsTheLineDoes)
{
    const Case& c = GetParam();
    if (c.serve == Serve::Ser2net && Ser2net::Program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed (scripts/setup-deps installs it)";
    TempDir dir;
    if (*c.log)
        fs::create_symlink(c.log, dir.Path() / "Log1107.txt");
    sim::MeterConfig config = c.meter;
    if (QString(c.args).contains("--address"))
        config.address = "4711 A";
    std::unique_ptr<sim::MeterSide> side = std::make_unique<sim::MeterProtocol>(config);
    if (c.serve == Serve::PushMeter)
        side = std::make_unique<sim::PushMeter>(config, 300ms, true);
    sim::PtyMeter pty(std::move(side), "");
    const QString device = c.serve <= Serve::Ser2net ? Started(pty) : "";
    std::unique_ptr<Ser2net> ser2net;
    QProcess meter;
    QTcpServer silent; // takes connections and never answers
    QString port = device + c.port;
    switch (c.serve) {
    case Serve::Ser2net:
        ser2net = std::make_unique<Ser2net>(device.toStdString(), dir.File("ser2net.yaml"));
        port = QString::fromStdString(ser2net->Url()) + c.port;
        break;
    case Serve::MeterTcp:
        meter.start(VARNEL_BINARY_DIR "/tools/meter-sim/varnel-meter-sim",
                    {"--tcp", "0", "--initial-baud", "9600", "--parity-on-wire"});
        while (!meter.canReadLine() && meter.waitForReadyRead(10000)) {}
        port.prepend(meter.readLine().trimmed());
        break;
    case Serve::Silent:
        silent.listen(QHostAddress::LocalHost);
        port.replace("%1", QString::number(silent.serverPort()));
        break;
    case Serve::Nothing: port.replace("%1", QString::number(FreeTcpPort())); break;
    default: break;
    }
    const double cpu = ChildrenCpuSeconds();
    bool sent = false; // a second stop signal ends the reader at once
    const Watch kill = [&](QProcess& p, auto&) {
        if (c.killAt && !sent && ReadFileBytes(dir.File("Log1107.txt")).find(c.killAt) != std::string::npos)
            sent = c.signal ? Signal(p, c.signal) : (ser2net->process.kill(), true);
    };
    const QStringList args = QStringList{"--port", port} + QProcess::splitCommand(QString(c.args));
    const Readout r =
        c.args == std::string("window") ? ReadInTheWindow(port.toStdString(), dir) : Exec(dir, args, kill);
    const std::string seen = r.out + r.err + "--\n" + r.log;
    EXPECT_EQ(r.exitCode, c.exitCode) << seen;
    for (const QString& piece : QString::fromStdString(c.expected).replace("%1", port).split("..."))
        EXPECT_NE(seen.find(piece.toStdString()), std::string::npos) << seen;
    EXPECT_LT(ChildrenCpuSeconds() - cpu, 1.0) << "the reader spun on a dead or silent peer";
    EXPECT_EQ(*c.report ? Report(pty) : "", c.report);
    EXPECT_EQ(r.rows.empty(), !QString(c.args).contains("json")) << "not one whole JSON object";
    EXPECT_TRUE(r.log.empty() || r.log.back() == '\n') << "the log's last record cut";
    meter.close();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Readouts,
    testing::Values(
        Case{"AddressedModeCCsvAndLog", Serve::Meter,
             Meter({}, {"0.0.0(12345678)", "1.8.0*01(001200.0*kWh)"}), "--format csv --address \"4711 A\"", 0,
             "Data,Code (OBIS),Value,Unit\r\n/VAR5\\2VARNEL-SIM,,,\r\n -- STX -- ,,,\r\n"
             "0.0.0(12345678),0.0.0,12345678,\r\n1.8.0*01(001200.0*kWh),1.8.0*01,001200.0,kWh\r\n!,,,\r\n"
             " -- ETX -- ,,,\r\n -- BCC -- ,,,\r\n--\n==> /?4711 A!<0D><0A>\r\n<== /VAR5\\2VARNEL-SIM\r\n"
             "==> <06>050<0D><0A>\r\n<==  -- STX -- \r\n<== 0.0.0(12345678)\r\n"
             "<== 1.8.0*01(001200.0*kWh)\r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n",
             "complete//300/9600/0"},
        Case{"PushMeterTwoTelegramsBadCrc", Serve::PushMeter, Meter({sim::Fault::BadCrc}, {"1(2)"}),
             "--listen --count 2", 3,
             " -- BCC -- \n -- STX -- \n/VAR5\\2VARNEL-SIM\n1(2)\t1\t2\n!21F5\t\t\n -- CRC error -- \n"
             " -- ETX -- \n -- BCC -- \nBaud rate : 9600\nProtocol : D\n",
             "complete//0/0/0"},
        Case{"TraceLogOnAFullDisk", Serve::Meter, Meter({}), "--format json", 0,
             "\"log\": \"not written: No space left on device\"}\nvarnel-read: the trace log Log1107.txt "
             "was not written: No space left on device\n--\n",
             "complete//300/9600/0", "", "/dev/full"},
        Case{"NoSuchDevice", Serve::Nothing, Meter({}), "", 1,
             "Open port COM error: %1: No such file or directory\n", "", "/dev/varnel-none"},
        Case{"Rfc2217ThroughSer2netSwitchesTheRate", Serve::Ser2net, Meter({}), "", 0,
             "\n -- BCC -- \nBaud rate : 9600\n", "complete//300/9600/0"},
        Case{"WindowThroughSer2net", Serve::Ser2net,
             Meter({}, {"/XYZ4\\2E-Meter 7", "0.0.0(87654321)", "32.7(231*V)", ""}), "window", 0,
             "/XYZ4\\2E-Meter 7||\n -- STX -- ||\n0.0.0(87654321)|0.0.0|87654321\n32.7(231*V)|32.7|231\n||\n"
             "!||\n -- ETX -- ||\n -- BCC -- ||\n4800|E|XYZ|E-Meter 7|",
             "complete//300/4800/0"},
        Case{"ServerKilledMidReadout", Serve::Ser2net, Meter({sim::Fault::Stall}, {"1(2)"}), "", 2,
             "\n -- Tout -- \nBaud rate : 9600\nProtocol : E\n", "complete//300/9600/0", "", "",
             " -- STX -- "},
        Case{"StopSignalMidReadout", Serve::Meter, Meter({sim::Fault::Stall}), "--format json", 143,
             "{\"data\": \" -- STX -- \"}...\"blockCheck\": \"none\"}\n", "", "", "", " -- STX -- ", SIGTERM},
        Case{"RawTcpAtTheConvertersRateSoftParityBothWays", Serve::MeterTcp, Meter({}),
             "--initial-baud 9600 --format json", 0,
             "SIM\"},\n  {\"data\": \" -- Rate fixed by the link -- \"},\n  {\"data\": \" -- STX -- \"}..."
             "\" -- Parity errors: 0 -- \"}\n], \"blockCheck\": \"ok\", \"parityErrors\": 0}\n",
             "", "?parity=soft"},
        Case{"Refused", Serve::Nothing, Meter({}), "", 1, "Open port COM error: %1: connection refused\n", "",
             "tcp://127.0.0.1:%1"},
        Case{"UnknownHost", Serve::Nothing, Meter({}), "", 1, "Open port COM error: %1: name not found\n", "",
             "rfc2217://no-such-host.invalid:4001"},
        Case{"NoTelnetAnswer", Serve::Silent, Meter({}), "", 1,
             "Open port COM error: %1: no answer to the RFC 2217 negotiation within 5 s (for a raw TCP port "
             "use tcp://)\n",
             "", "rfc2217://localhost:%1"},
        Case{"UnknownOption", Serve::Nothing, Meter({}), "", 1,
             "Open port COM error: %1: unknown option 'parity=hard' (the forms are", "",
             "tcp://meter:4001?parity=hard"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(VarnelRead, FastLineIsDrainedWithoutLosingALineAndItsCaptureReplaysToTheSameRowsAndLog)
{
    TempDir dir;
    sim::MeterConfig config;
    for (int i = 0; i < 400; ++i)
        config.lines.push_back("1.8." + std::to_string(i) + "*" + std::to_string(i % 15)
                               + "(000123.456*kWh)");
    sim::PtyMeter meter(config);
    const QStringList args{"--port", Started(meter), "--format", "json", "--transmit-baud", "57600"};
    const Readout first = Exec(dir, args + QStringList{"--capture", "cap.txt"});
    ASSERT_EQ(first.rows.size(), 2 + 400 + 3u) << first.err; // to the block check
    EXPECT_EQ(Report(meter), "complete//300/57600/1");       // forced: an anomaly to a 9600 Bd meter
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(std::get<0>(first.rows[2 + i]), config.lines[i]);
    std::vector<sim::CaptureRecord> records;
    std::string error;
    ASSERT_EQ(sim::LoadCapture(dir.File("cap.txt"), records, error), sim::CaptureLoad::Ok) << error;
    sim::PtyMeter replay(std::make_unique<sim::ReplayMeter>(records), "");
    const Readout again = Exec(dir, QStringList{"--port", Started(replay)} + args.mid(2));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.rows, first.rows);
    EXPECT_EQ(again.log, first.log);
}

// A killed reader leaves its lock file and an exclusive line behind; the next one still gets a full readout.
TEST(VarnelRead, AReaderKilledMidReadoutLeavesTheLineToTheNext)
{
    TempDir dir;
    sim::PtyMeter meter(Meter({}));
    const QString device = Started(meter);
    const Readout killed = Exec(dir, {"--port", device}, [](QProcess& p, const std::string& out) {
        if (out.find("1.8.0(012345.678*kWh)") != std::string::npos)
            Signal(p, SIGKILL);
    });
    EXPECT_EQ(killed.exitCode, -1) << "ended before the kill point: " << killed.out;
    // Once the meter sees the line unheld it clears the exclusive flag (only root may open past it).
    for (int exclusive = 1, ms = 0; exclusive && ms < 5000; ms += 10) {
        std::this_thread::sleep_for(10ms);
        const int fd = ::open(meter.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        exclusive = fd < 0 || ::ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive;
        ::close(fd);
    }
    const Readout next = Exec(dir, {"--port", device});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(std::count(next.out.begin(), next.out.end(), '\n'), 2 + 40 + 3 + 4) << next.out;
}

class WindowStopped : public testing::TestWithParam<int> {};

TEST_P(WindowStopped, BySignalWritesTheSettingsAsExitDoes)
{
    TempDir dir;
    fs::create_directory(dir.Path() / "Varnel");
    std::ofstream(dir.File("Varnel/Varnel.ini"))
        << "; kept\n[Varnel]\nPortCOM=4\nPosX=250\nPosY=40\nPosDX=1000\nPosDY=50\n";
    bool sent = false; // until the signal is caught, it kills the window as it always did
    const auto signal = [&](QProcess& p, auto&) {
        std::ifstream status("/proc/" + std::to_string(p.processId()) + "/status");
        for (std::string line; !sent && std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0
                && (std::stoull(line.substr(7), nullptr, 16) >> (GetParam() - 1) & 1))
                sent = Signal(p, GetParam());
    };
    const Readout r = Exec(dir, {}, signal, "/src/app/varnel");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::regex saved("; kept\n\\[Varnel\\]\nPortCOM=4\nPosX=250\nPosY=40\nPosDX=(?!1000\n)[0-9]+\n"
                           "PosDY=(?!50\n)[0-9]+\n");
    EXPECT_TRUE(std::regex_match(ReadFileBytes(dir.File("Varnel/Varnel.ini")), saved));
}

INSTANTIATE_TEST_SUITE_P(Table, WindowStopped, testing::Values(SIGTERM, SIGHUP, SIGINT));

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

std::vector<std::string> Captures()
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(VARNEL_CORPUS_DIR, ec))
        if (const auto ext = entry.path().extension(); ext == ".bin" || ext == ".txt")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names.empty() ? std::vector<std::string>{"none"} : names; // "none" says why it skips
}

class Corpus : public testing::TestWithParam<std::string> {};

TEST_P(Corpus, ReaderRowsMatchTheBytesSent)
{
    if (GetParam() == "none")
        GTEST_SKIP() << "no captures: the corpus folder " << VARNEL_CORPUS_DIR << " is absent or empty";
    TempDir dir;
    sim::MeterConfig config;
    std::string error;
    ASSERT_TRUE(sim::LoadDataFile(VARNEL_CORPUS_DIR "/" + GetParam(), config, false, error)) << error;
    // Push meters (mode D, P1) are served as such and read with --listen.
    const bool push =
        GetParam().find("modeD") != std::string::npos || GetParam().find("_p1") != std::string::npos;
    sim::PtyMeter meter(
        push ? std::unique_ptr<sim::MeterSide>(std::make_unique<sim::PushMeter>(config, 500ms, false))
             : std::make_unique<sim::MeterProtocol>(config),
        "");
    const Readout run = Exec(dir, QStringList{"--port", Started(meter), "--format", "json"}
                                      + (push ? QStringList{"--listen"} : QStringList{}));
    ASSERT_TRUE(meter.WaitForReports(1, 20s)) << "the meter saw no readout end";
    sim::ReadoutReport report = meter.Reports().front();
    EXPECT_EQ(report.outcome + std::to_string(report.signOnBaud), push ? "complete0" : "complete300");
    // A telegram's blank line after the identification shows as no row.
    const auto expected =
        ReferenceRows(push ? report.sent.erase(report.sent.find("\r\n\r\n"), 2) : report.sent, push);
    const std::string& last = std::get<0>(expected.back());
    const int status = last == " -- Tout -- " ? 2 : last.rfind(" -- BCC error", 0) == 0 ? 3 : 0;
    EXPECT_EQ(run.exitCode, status) << run.err;
    EXPECT_EQ(run.rows, expected);
}

INSTANTIATE_TEST_SUITE_P(Captures, Corpus, testing::ValuesIn(Captures()));

} // namespace
} // namespace varnel::test
