// varnel-meter-sim: a simulated IEC 62056-21 meter on a pseudo-terminal.
#include "MeterData.h"
#include "PtyMeter.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include <pthread.h>

namespace {

using namespace varnel::sim;

// sysexits.h values, spelled out for clarity at the call sites.
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;
constexpr int kExitOsErr = 71;
constexpr int kExitCantCreate = 73;

void PrintUsage(std::ostream& out)
{
    out << "usage: varnel-meter-sim [--link PATH] [--data FILE] [--identification TEXT]\n"
           "                        [--reaction-ms N] [--initial-baud RATE] [--no-pace]\n"
           "                        [--report FILE] [--fault NAME]...\n"
           "faults: " << FaultNames() << "\n";
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
    std::string data;
    std::string report;
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
        if (arg == "--no-pace") {
            args.config.pace = false;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "varnel-meter-sim: " << arg << (arg.rfind("--", 0) == 0 ? " needs a value\n" : ": unknown argument\n");
            return kExitUsage;
        }
        const std::string value = argv[++i];
        int number = 0;
        if (arg == "--link") {
            args.link = value;
        } else if (arg == "--data") {
            args.data = value;
        } else if (arg == "--report") {
            args.report = value;
        } else if (arg == "--identification") {
            args.config.identification = value;
            args.identificationGiven = true;
        } else if (arg == "--reaction-ms" && ParseInt(value, 0, 60000, number)) {
            args.config.reaction = std::chrono::milliseconds{number};
        } else if (arg == "--initial-baud" && ParseInt(value, 50, 460800, number)) {
            args.config.initialBaud = number;
        } else if (arg == "--fault" && FaultFromName(value)) {
            args.config.faults.push_back(*FaultFromName(value));
        } else {
            std::cerr << "varnel-meter-sim: bad argument " << arg << ' ' << value << '\n';
            return kExitUsage;
        }
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
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PtyMeter meter(args.config, args.link);
    std::size_t count = 0;
    meter.onReport = [&](const ReadoutReport& report) {
        std::cerr << "varnel-meter-sim: " << Summary(++count, report) << std::endl;
        if (reportFile.is_open())
            reportFile << report.ToJson() << '\n' << std::flush;
    };
    meter.onNewDevice = [](const std::string& device) { std::cout << device << std::endl; };
    std::string error;
    if (const auto result = meter.Start(error); result != PtyMeter::StartResult::Ok) {
        std::cerr << "varnel-meter-sim: " << error << '\n';
        return result == PtyMeter::StartResult::LinkFailed ? kExitCantCreate : kExitOsErr;
    }
    std::cout << meter.DevicePath() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    meter.Stop();
    return 0;
}
