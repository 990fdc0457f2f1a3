// varnel-read and the window on network ports, as a user meets them: RFC 2217 through a real ser2net in front
// of the simulated meter's pseudo-terminal, raw TCP on the meter's own --tcp port, and the failures.
#include "Ser2net.h"
#include "TempDir.h"

#include "MeterData.h"
#include "PtyMeter.h"
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
#include <QComboBox>

#include <sys/resource.h>

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

const QString kBin = VARNEL_BINARY_DIR;

enum class Serve { Ser2net, MeterTcp, Silent, Nothing };

struct NetCase {
    const char* name;
    Serve serve;
    const char* port;     // after the served port's name; with nothing served the name, %1 a free port
    const char* meter;    // varnel-meter-sim's options beside --tcp 0
    const char* args;     // varnel-read's beside --port; "window": the window reads through COM40 instead
    int exitCode;         // the window's 0: a readout to its block check
    const char* expected; // in stdout and stderr, or the window's rows; %1 the port's name
    const char* killAt;   // ser2net is killed once stdout shows this
};

double ChildrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// With no settings of the user's; ser2net is killed when the output shows c.killAt.
std::pair<int, std::string> ReadWithVarnelRead(const NetCase& c, const QString& port, const TempDir& dir,
                                               QProcess* ser2net)
{
    const double cpu = ChildrenCpuSeconds();
    QProcess reader;
    const QString home = QString::fromStdString(dir.Path().string());
    reader.setEnvironment(QProcess::systemEnvironment() << "XDG_CONFIG_HOME=" + home);
    reader.setWorkingDirectory(home);
    reader.start(kBin + "/src/cli/varnel-read", QString(c.args).split(' ', Qt::SkipEmptyParts)
                                                    << "--port" << port);
    std::string out;
    while (reader.waitForReadyRead(60000)) {
        out += reader.readAllStandardOutput().toStdString();
        if (c.killAt && out.find(c.killAt) != std::string::npos)
            ser2net->kill();
    }
    reader.waitForFinished(60000);
    EXPECT_LT(ChildrenCpuSeconds() - cpu, 1.0) << "the reader spun on a dead or silent peer";
    return {reader.state() == QProcess::NotRunning ? reader.exitCode() : -1,
            out + reader.readAllStandardOutput().toStdString() + reader.readAllStandardError().toStdString()};
}

// Through the settings file's [Ports] entry COM40, the window's controls as ever.
std::pair<int, std::string> ReadInTheWindow(const QString& port, const TempDir& dir)
{
    std::ofstream(dir.File("Varnel.ini"))
        << "[Varnel]\nPortCOM=39\n[Ports]\nCOM40=" << port.toStdString() << "\n";
    const StartSettings start = LoadStartSettings(dir.File("Varnel.ini"));
    int argc = 1;
    char* argv[] = {const_cast<char*>("NetworkTest")};
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
    EXPECT_EQ(static_cast<QComboBox*>(dlg.Control(IDC_PORT))->toolTip(), port);
    for (int r = 0; r < dlg.Rows()->RowsAdded(); ++r)
        out += dlg.Rows()->Text(r, 0).toStdString() + '\n';
    dlg.done(QDialog::Rejected);
    return {dlg.Core().engine.LastEnd() == ReadoutEnd::BlockCheck ? 0 : 2, out};
}

void PrintTo(const NetCase& c, std::ostream* out)
{
    *out << c.name;
}

class NetworkRead : public testing::TestWithParam<NetCase> {};

TEST_P(NetworkRead, EndsAsTheLinkDoes)
{
    const NetCase& c = GetParam();
    if (c.serve == Serve::Ser2net && Ser2net::Program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed (scripts/setup-deps installs it)";
    TempDir dir;
    sim::MeterConfig config;
    config.lines = sim::BuiltInReadout();
    if (c.killAt) // a pause in the block, so that the server surely dies inside it
        config.faults = {sim::Fault::Stall};
    sim::PtyMeter pty(config);
    std::unique_ptr<Ser2net> ser2net;
    QProcess meter;
    QTcpServer silent; // takes connections and never answers
    QString port = c.port;
    std::string error;
    switch (c.serve) {
    case Serve::Ser2net:
        ASSERT_EQ(pty.Start(error), sim::PtyMeter::StartResult::Ok) << error;
        ser2net = std::make_unique<Ser2net>(pty.DevicePath(), dir.File("ser2net.yaml"));
        port.prepend(QString::fromStdString(ser2net->Url()));
        break;
    case Serve::MeterTcp:
        meter.start(kBin + "/tools/meter-sim/varnel-meter-sim",
                    QString("--tcp 0 ").append(c.meter).split(' ', Qt::SkipEmptyParts));
        while (!meter.canReadLine() && meter.waitForReadyRead(10000)) {}
        port.prepend(meter.readLine().trimmed());
        break;
    case Serve::Silent:
        silent.listen(QHostAddress::LocalHost);
        port.replace("%1", QString::number(silent.serverPort()));
        break;
    case Serve::Nothing: port.replace("%1", QString::number(FreeTcpPort())); break;
    }
    const auto [exitCode, out] =
        QString(c.args) == "window" ? ReadInTheWindow(port, dir)
                                    : ReadWithVarnelRead(c, port, dir, ser2net ? &ser2net->process : nullptr);
    EXPECT_EQ(exitCode, c.exitCode) << out;
    EXPECT_NE(out.find(QString(c.expected).replace("%1", port).toStdString()), std::string::npos) << out;
    if (c.serve == Serve::Ser2net) {
        // The rate switch reached the meter's line: the block began at the agreed rate.
        ASSERT_TRUE(pty.WaitForReports(1, 30s)) << "the meter saw no readout end";
        const sim::ReadoutReport r = pty.Reports().front();
        EXPECT_EQ(std::to_string(r.signOnBaud) + r.acknowledgement + std::to_string(r.readerBaudAtData)
                      + std::to_string(r.anomalies.size()),
                  "300\006050\r\n96000")
            << r.ToJson();
    }
    meter.terminate();
    meter.waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(
    Table, NetworkRead,
    testing::Values(
        NetCase{"Rfc2217ThroughSer2netSwitchesTheRate", Serve::Ser2net, "", "", "", 0,
                "\n!\t\t\n -- ETX -- \n -- BCC -- \nBaud rate : 9600\n", nullptr},
        NetCase{"WindowThroughSer2net", Serve::Ser2net, "", "", "window", 0,
                "/VAR5\\2VARNEL-SIM\n -- STX -- \n0.0.0(12345678)\n", nullptr},
        NetCase{"RawTcpAtTheConvertersRate", Serve::MeterTcp, "", "--initial-baud 9600",
                "--initial-baud 9600", 0, "/VAR5\\2VARNEL-SIM\n -- Rate fixed by the link -- \n -- STX -- \n",
                nullptr},
        NetCase{"SoftParityBothWays", Serve::MeterTcp, "?parity=soft", "--initial-baud 9600 --parity-on-wire",
                "--initial-baud 9600 --format json", 0,
                "{\"data\": \" -- Parity errors: 0 -- \"}\n], \"blockCheck\": \"ok\", \"parityErrors\": 0}\n",
                nullptr},
        NetCase{"EightBitLinkWithoutSoftParity", Serve::MeterTcp, "", "--initial-baud 9600 --parity-on-wire",
                "--initial-baud 9600", 2, " -- Tout -- \nBaud rate : 9600\nProtocol : ?\n", nullptr},
        NetCase{"ServerKilledMidReadout", Serve::Ser2net, "", "", "", 2,
                "\n -- Tout -- \nBaud rate : 9600\nProtocol : E\n", " -- STX -- \n"},
        NetCase{"Refused", Serve::Nothing, "tcp://127.0.0.1:%1", "", "", 1,
                "Open port COM error: %1: connection refused\n", nullptr},
        NetCase{"UnknownHost", Serve::Nothing, "rfc2217://no-such-host.invalid:4001", "", "", 1,
                "Open port COM error: %1: name not found\n", nullptr},
        NetCase{
            "NoTelnetAnswer", Serve::Silent, "rfc2217://localhost:%1", "", "", 1,
            "Open port COM error: %1: no answer to the RFC 2217 negotiation within 5 s (for a raw TCP port "
            "use tcp://)\n",
            nullptr},
        NetCase{"UnknownOption", Serve::Nothing, "tcp://meter:4001?parity=hard", "", "", 1,
                "Open port COM error: %1: unknown option 'parity=hard' (the forms are", nullptr}),
    [](const testing::TestParamInfo<NetCase>& info) { return info.param.name; });

} // namespace
} // namespace varnel::test
