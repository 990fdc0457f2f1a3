// varnel-meter-sim: a simulated IEC 62056-21 meter on a pseudo-terminal or a
// virtual machine's serial port.
#include "MeterData.h"
#include "PushMeter.h"
#include "PtyMeter.h"
#include "SocketMeter.h"
#include "WireParity.h"

#include <cerrno>
#include <memory>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "VarnelVersion.h"

#include <pthread.h>
#include <unistd.h>

namespace {

using namespace varnel::sim;

// sysexits.h values, spelled out for clarity at the call sites.
constexpr int kExitUsage = 64;
constexpr int kExitDataErr = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitOsErr = 71;
constexpr int kExitCantCreate = 73;

// Headed "Usage:", "Options:", "Exit status:": the man page is made from this text.
void PrintUsage(std::ostream& out)
{
    out << "Usage: varnel-meter-sim [OPTION]...\n"
           "A simulated IEC 62056-21 meter (readout mode) on a pseudo-terminal or a virtual\n"
           "machine's serial port. The first line of stdout is the device; it serves one\n"
           "readout after another until SIGINT, SIGTERM or SIGHUP.\n"
           "\n"
           "Options:\n"
           "  --link PATH            a symbolic link to the device\n"
           "  --socket PATH          serve the telnet serial port on the Unix socket PATH\n"
           "                         instead of a pseudo-terminal\n"
           "  --tcp PORT             serve raw TCP on 127.0.0.1:PORT (0: a free port) instead,\n"
           "                         as a serial converter on the network; stdout's first line\n"
           "                         is then tcp://127.0.0.1:PORT\n"
           "  --parity-on-wire       7E1 carried as 8-bit bytes: take only bytes with even\n"
           "                         parity, send with the parity bit set\n"
           "  --data FILE            the data lines, or a raw capture (.bin), to serve\n"
           "  --identification TEXT  the identification line (default /VAR5\\2VARNEL-SIM)\n"
           "  --reaction-ms N        pause before each answer (default 200)\n"
           "  --initial-baud RATE    the rate the request is expected at (default 300)\n"
           "  --no-pace              send at once instead of one byte per 10 bit times\n"
           "  --address ADDR         answer only requests with this address (or none)\n"
           "  --push MS              a push meter (mode D): send the data as a telegram, MS ms\n"
           "                         after the last one; pseudo-terminal only\n"
           "  --push-stx             with --push: frame each telegram with STX, ETX and the\n"
           "                         block check\n"
           "  --push-crc             with --push: end each telegram with \"!\" and its CRC-16\n"
           "                         (DSMR P1)\n"
           "  --replay FILE          answer with the meter's bytes of a varnel-read --capture\n"
           "                         file, at their captured times\n"
           "  --report FILE          one JSON object per line and readout\n"
           "  --fault NAME           misbehave as NAME (repeatable)\n"
           "  -h, --help             show this help and exit\n"
           "  --version              show the version and exit\n"
           "\n"
           "NAME is one of: "
        << FaultNames()
        << "\n"
           "\n"
           "Exit status:\n"
           "  0   stopped by a signal, or the far end of the socket closed the line\n"
           "  64  bad arguments\n"
           "  65  a damaged capture file (the error names its line)\n"
           "  66  the data or capture file cannot be read\n"
           "  69  the socket cannot be connected, or the TCP port not listened on\n"
           "  71  no pseudo-terminal could be made\n"
           "  73  the link or the report file cannot be created\n";
}

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

struct Arguments {
    MeterConfig config;
    std::string link;
    std::string socket;
    std::string data;
    std::string report;
    std::string replay;
    int pushMs = -1;
    int tcpPort = -1;
    bool pushStx = false;
    bool parityOnWire = false;
    bool pushCrc = false;
    bool identificationGiven = false;
};

// Returns 0 when the arguments are good, otherwise the exit status.
int Parse(int argc, char** argv, Arguments& args)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(std::cout);
            std::exit(0);
        }
        if (arg == "--version") {
            std::cout << "varnel-meter-sim (" VARNEL_NAME ") " VARNEL_VERSION "\n";
            std::exit(0);
        }
        if (arg == "--no-pace") {
            args.config.pace = false;
            continue;
        }
        if (arg == "--push-stx" || arg == "--push-crc") {
            (arg == "--push-stx" ? args.pushStx : args.pushCrc) = true;
            continue;
        }
        if (arg == "--parity-on-wire") {
            args.parityOnWire = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "varnel-meter-sim: " << arg
                      << (arg.rfind("--", 0) == 0 ? " needs a value\n" : ": unknown argument\n");
            return kExitUsage;
        }
        const std::string value = argv[++i];
        int number = 0;
        if (arg == "--link") {
            args.link = value;
        } else if (arg == "--socket") {
            args.socket = value;
        } else if (arg == "--tcp" && ParseInt(value, 0, 65535, number)) {
            args.tcpPort = number;
        } else if (arg == "--data") {
            args.data = value;
        } else if (arg == "--replay") {
            args.replay = value;
        } else if (arg == "--push" && ParseInt(value, 0, 3600000, number)) {
            args.pushMs = number;
        } else if (arg == "--report") {
            args.report = value;
        } else if (arg == "--identification") {
            args.config.identification = value;
            args.identificationGiven = true;
        } else if (arg == "--reaction-ms" && ParseInt(value, 0, 60000, number)) {
            args.config.reaction = std::chrono::milliseconds{number};
        } else if (arg == "--initial-baud" && ParseInt(value, 50, 460800, number)) {
            args.config.initialBaud = number;
        } else if (arg == "--address" && !value.empty() && value.size() <= kMaxAddressLength) {
            args.config.address = value;
        } else if (arg == "--fault" && FaultFromName(value)) {
            args.config.faults.push_back(*FaultFromName(value));
        } else {
            std::cerr << "varnel-meter-sim: bad argument " << arg << ' ' << value << '\n';
            return kExitUsage;
        }
    }
    if ((args.pushMs >= 0 || !args.replay.empty()) && (!args.socket.empty() || args.tcpPort >= 0)) {
        std::cerr << "varnel-meter-sim: --push and --replay serve a pseudo-terminal, not --socket or --tcp\n";
        return kExitUsage;
    }
    if ((args.pushStx || args.pushCrc) && args.pushMs < 0) {
        std::cerr << "varnel-meter-sim: --push-stx and --push-crc belong to --push\n";
        return kExitUsage;
    }
    if ((!args.link.empty()) + (!args.socket.empty()) + (args.tcpPort >= 0) > 1) {
        std::cerr << "varnel-meter-sim: --link, --socket and --tcp exclude each other\n";
        return kExitUsage;
    }
    return 0;
}

std::string Summary(std::size_t number, const ReadoutReport& report)
{
    std::string line = "readout " + std::to_string(number) + ": " + report.outcome + ", "
                       + std::to_string(report.sent.size()) + " bytes";
    for (const auto& anomaly : report.anomalies)
        line += "; " + anomaly;
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    args.config.lines = BuiltInReadout();
    if (const int status = Parse(argc, argv, args); status != 0) {
        PrintUsage(std::cerr);
        return status;
    }
    if (!args.data.empty()) {
        std::string error;
        if (!LoadDataFile(args.data, args.config, args.identificationGiven, error)) {
            std::cerr << "varnel-meter-sim: " << error << '\n';
            return kExitNoInput;
        }
    }
    std::unique_ptr<MeterSide> side;
    if (!args.replay.empty()) {
        std::vector<CaptureRecord> records;
        std::string error;
        if (const auto load = LoadCapture(args.replay, records, error); load != CaptureLoad::Ok) {
            std::cerr << "varnel-meter-sim: " << error << '\n';
            return load == CaptureLoad::Damaged ? kExitDataErr : kExitNoInput;
        }
        side = std::make_unique<ReplayMeter>(std::move(records));
    } else if (args.pushMs >= 0) {
        side = std::make_unique<PushMeter>(args.config, std::chrono::milliseconds{args.pushMs}, args.pushStx,
                                           args.pushCrc);
    } else {
        side = std::make_unique<MeterProtocol>(args.config);
    }
    if (args.parityOnWire)
        side = std::make_unique<WireParity>(std::move(side));
    std::ofstream reportFile;
    if (!args.report.empty()) {
        reportFile.open(args.report, std::ios::binary | std::ios::trunc);
        if (!reportFile) {
            std::cerr << "varnel-meter-sim: cannot create " << args.report << '\n';
            return kExitCantCreate;
        }
    }

    // Signals are taken by sigwait below; the meter's thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // SIGUSR1 asks for a line break; any other of the set stops the meter.
    const auto serve = [&](const std::function<void()>& sendBreak) {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1)
            sendBreak();
    };

    std::size_t count = 0;
    const auto onReport = [&](const ReadoutReport& report) {
        std::cerr << "varnel-meter-sim: " << Summary(++count, report) << std::endl;
        if (reportFile.is_open())
            reportFile << report.ToJson() << '\n' << std::flush;
    };
    std::string error;
    if (!args.socket.empty() || args.tcpPort >= 0) {
        const bool tcp = args.tcpPort >= 0;
        auto meter = tcp ? std::make_unique<SocketMeter>(
                         std::move(side), SocketMeter::TcpListen{static_cast<std::uint16_t>(args.tcpPort)})
                         : std::make_unique<SocketMeter>(std::move(side), args.socket);
        meter->onReport = onReport;
        meter->onClosed = [](const std::string& reason) {
            std::cerr << "varnel-meter-sim: " << reason << std::endl;
            kill(getpid(), SIGHUP);
        };
        if (!meter->Start(error)) {
            std::cerr << "varnel-meter-sim: " << error << '\n';
            return kExitUnavailable;
        }
        std::cout << (tcp ? "tcp://127.0.0.1:" + std::to_string(meter->TcpPort()) : args.socket) << std::endl;
        serve([&] {
            if (tcp)
                std::cerr << "varnel-meter-sim: a raw TCP link cannot carry a line break" << std::endl;
            else
                meter->SendBreak();
        });
        meter->Stop();
        return 0;
    }

    PtyMeter meter(std::move(side), args.link);
    meter.onReport = onReport;
    meter.onNewDevice = [](const std::string& device) { std::cout << device << std::endl; };
    if (const auto result = meter.Start(error); result != PtyMeter::StartResult::Ok) {
        std::cerr << "varnel-meter-sim: " << error << '\n';
        return result == PtyMeter::StartResult::LinkFailed ? kExitCantCreate : kExitOsErr;
    }
    std::cout << meter.DevicePath() << std::endl;

    serve([] { std::cerr << "varnel-meter-sim: a pseudo-terminal cannot carry a line break" << std::endl; });
    meter.Stop();
    return 0;
}
