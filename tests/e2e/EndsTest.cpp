// Ends a user meets: a trace log that cannot be written, a reader killed mid-readout, the window
// stopped by a signal; each with the real programs, in a folder of their own.
#include "TempDir.h"

#include "MeterData.h"
#include "PtyMeter.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <regex>
#include <thread>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Ends : testing::Test {
    void SetUp() override
    {
        meter.onReport = [this](const sim::ReadoutReport&) { ++told; };
        std::string error;
        ASSERT_EQ(meter.Start(error), sim::PtyMeter::StartResult::Ok) << error;
    }
    void Start(QProcess& p, const char* program, const QStringList& args)
    {
        const QString home = QString::fromStdString(dir.Path().string());
        p.setEnvironment(QProcess::systemEnvironment()
                         << "XDG_CONFIG_HOME=" + home << "QT_QPA_PLATFORM=offscreen");
        p.setWorkingDirectory(home);
        p.start(QString(VARNEL_BINARY_DIR) + program, args);
        ASSERT_TRUE(p.waitForStarted()) << program;
    }
    // varnel-read's exit status, stdout and stderr.
    std::tuple<int, std::string, std::string> Read(const QStringList& args = {})
    {
        QProcess p;
        Start(p, "/src/cli/varnel-read",
              QStringList{"--port", QString::fromStdString(meter.DevicePath())} + args);
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitCode(), p.readAllStandardOutput().toStdString(),
                p.readAllStandardError().toStdString()};
    }

    TempDir dir;
    std::atomic<std::size_t> told{0}; // reports the meter handed on
    sim::PtyMeter meter{[] {
        sim::MeterConfig config;
        config.lines = sim::BuiltInReadout();
        return config;
    }()};
};

const char* const kLabels =
    " -- ETX -- \n -- BCC -- \nBaud rate : 9600\nProtocol : E\nFLAG : VAR\nDescription : VARNEL-SIM\n";

struct LogCase {
    const char* name;
    std::function<void(const fs::path&)> obstacle;
    const char *format, *reason, *outEnd;
};

void PrintTo(const LogCase& c, std::ostream* out)
{
    *out << c.name;
}

struct TraceLogLost : Ends, testing::WithParamInterface<LogCase> {};

TEST_P(TraceLogLost, IsSaidOnceWithTheReasonAndTheReadoutsExitStatus)
{
    GetParam().obstacle(dir.Path() / "Log1107.txt");
    const auto [exitCode, out, err] = Read({"--format", GetParam().format});
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(err, std::string("varnel-read: the trace log Log1107.txt was not written: ") + GetParam().reason
                       + "\n");
    const std::string end = GetParam().outEnd;
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), end.size())), end);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TraceLogLost,
    testing::Values(LogCase{"FullDisk", [](auto& log) { fs::create_symlink("/dev/full", log); }, "text",
                            "No space left on device", kLabels},
                    LogCase{"FullDiskJson", [](auto& log) { fs::create_symlink("/dev/full", log); }, "json",
                            "No space left on device",
                            "{\"data\": \" -- BCC -- \"}\n], \"blockCheck\": \"ok\", \"log\": \"not written: "
                            "No space left on device\"}\n"},
                    LogCase{"AFolderOfThatName", [](auto& log) { fs::create_directory(log); }, "csv",
                            "Is a directory", " -- BCC -- ,,,\r\n"}),
    [](const auto& info) { return info.param.name; });

struct KillPoint {
    const char* name;
    const char* after; // what the reader has printed; empty: once it holds the device
};

void PrintTo(const KillPoint& c, std::ostream* out)
{
    *out << c.name;
}

struct ReaderKilled : Ends, testing::WithParamInterface<KillPoint> {};

TEST_P(ReaderKilled, LeavesTheMeterToGiveTheNextReaderAFullReadout)
{
    QProcess first;
    Start(first, "/src/cli/varnel-read", {"--port", QString::fromStdString(meter.DevicePath())});
    const auto holds = [&] {
        std::error_code ec;
        for (const auto& fd :
             fs::directory_iterator("/proc/" + std::to_string(first.processId()) + "/fd", ec))
            if (fs::read_symlink(fd.path(), ec) == meter.DevicePath())
                return true;
        return false;
    };
    std::string out;
    for (const auto end = std::chrono::steady_clock::now() + 60s;
         std::chrono::steady_clock::now() < end && first.state() == QProcess::Running
         && (*GetParam().after ? out.find(GetParam().after) == std::string::npos : !holds());
         out += first.readAllStandardOutput().toStdString())
        first.waitForReadyRead(5);
    ASSERT_EQ(first.state(), QProcess::Running) << "ended before the kill point: " << out;
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished());

    // The line as a new pseudo-terminal has it, for any reader: raw, 300 Bd, none of the killed one's flags,
    // not exclusive, no byte for the killed one waiting.
    const auto fresh = [&] {
        termios t{};
        int exclusive = 1, queued = 1; // only root may open a line another has made exclusive
        const int fd = ::open(meter.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const bool got = fd >= 0 && ::tcgetattr(fd, &t) == 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0
                         && ::ioctl(fd, FIONREAD, &queued) == 0;
        ::close(fd);
        return got && !exclusive && !queued && cfgetospeed(&t) == B300
               && (t.c_cflag & (CLOCAL | CREAD)) == CREAD && t.c_cc[VMIN] == 1;
    };
    bool wasFresh = false;
    for (int ms = 0; ms < 5000 && !(wasFresh = fresh()); ms += 10)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(wasFresh);
    const auto [exitCode, next, err] = Read();
    EXPECT_EQ(exitCode, 0) << err;
    EXPECT_EQ(next.substr(0, 30), "/VAR5\\2VARNEL-SIM\n -- STX -- \n");
    EXPECT_EQ(std::count(next.begin(), next.end(), '\n'), 2 + 40 + 1 + 6);
    EXPECT_EQ(next.substr(next.size() - std::min(next.size(), std::strlen(kLabels))), kLabels);
    meter.Stop();
    const auto reports = meter.Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(told, reports.size());
    EXPECT_EQ(reports.back().outcome + std::to_string(reports.back().anomalies.size()), "complete0")
        << reports.back().ToJson();
}

INSTANTIATE_TEST_SUITE_P(Table, ReaderKilled,
                         testing::Values(KillPoint{"HoldingTheDevice", ""},
                                         KillPoint{"AfterTheIdentification", "/VAR5\\2VARNEL-SIM\n"},
                                         KillPoint{"MidBlock", "1.8.0(012345.678*kWh)"}),
                         [](const auto& info) { return info.param.name; });

struct WindowStopped : Ends, testing::WithParamInterface<int> {};

TEST_P(WindowStopped, BySignalWritesTheSettingsAsExitDoes)
{
    fs::create_directory(dir.Path() / "Varnel");
    std::ofstream(dir.File("Varnel/Varnel.ini"))
        << "; kept\n[Varnel]\nPortCOM=4\nPosX=250\nPosY=40\nPosDX=1000\nPosDY=50\n";
    QProcess window;
    Start(window, "/src/app/varnel", {});
    // Until the signal is caught, it kills the window as it always did.
    const auto caught = [&] {
        std::ifstream status("/proc/" + std::to_string(window.processId()) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (GetParam() - 1) & 1) != 0;
        return false;
    };
    for (const auto end = std::chrono::steady_clock::now() + 60s;
         !caught() && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    ::kill(static_cast<pid_t>(window.processId()), GetParam());
    ASSERT_TRUE(window.waitForFinished(60000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0) << window.readAllStandardError().toStdString();
    const std::string ini = ReadFileBytes(dir.File("Varnel/Varnel.ini"));
    EXPECT_TRUE(std::regex_match(ini, std::regex("; "
                                                 "kept\n\\[Varnel\\]\nPortCOM=4\nPosX=250\nPosY=40\nPosDX=(?!"
                                                 "1000\n)[0-9]+\nPosDY=(?!50\n)[0-9]+\n")))
        << ini;
}

INSTANTIATE_TEST_SUITE_P(Table, WindowStopped, testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const auto& info) { return std::string("SIG") + sigabbrev_np(info.param); });

} // namespace
} // namespace varnel::test
