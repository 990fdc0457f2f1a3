// varnel-read against the simulated meter, as a separate process:
//  1. peak memory of `varnel-read --format csv` on a 1 MB readout (unpaced);
//  2. a 20 kB block at 57600 bit/s, paced like a real line: total time against
//     the block's wire time plus 10% plus the protocol's fixed pauses.

#include "MeterLines.h"
#include "PtyMeter.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Result {
    int status = -1;
    double seconds = 0;
    double maxRssMb = 0;
};

Result RunReader(const std::string& reader, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::string program = reader;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::chdir("/tmp");
        ::execv(reader.c_str(), argv.data());
        ::_exit(127);
    }
    Result r;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varnel::sim;
    const std::string reader = argc > 1 ? argv[1] : VARNEL_READER;

    MeterConfig big;
    big.pace = false;
    big.lines = MeterLines(1'000'000);
    PtyMeter meter1(big);
    std::string error;
    if (meter1.Start(error) != PtyMeter::StartResult::Ok) {
        std::fprintf(stderr, "meter: %s\n", error.c_str());
        return 1;
    }
    const Result r1 = RunReader(reader, {"--port", meter1.DevicePath(), "--format", "csv"});
    std::printf("1 MB readout, csv: exit %d, %.2f s, peak memory %.1f MB (target <= 30 MB)\n", r1.status,
                r1.seconds, r1.maxRssMb);
    meter1.Stop();

    MeterConfig fast;
    fast.lines = MeterLines(20'000);
    std::size_t blockBytes = 1 + 3 + 2; // STX, "!" CR LF, ETX and BCC
    for (const auto& l : fast.lines)
        blockBytes += l.size() + 2;
    PtyMeter meter2(fast);
    if (meter2.Start(error) != PtyMeter::StartResult::Ok) {
        std::fprintf(stderr, "meter: %s\n", error.c_str());
        return 1;
    }
    const Result r2 =
        RunReader(reader, {"--port", meter2.DevicePath(), "--format", "csv", "--transmit-baud", "57600"});
    const double wire = static_cast<double>(blockBytes) * 10 / 57600;
    const double identWire = static_cast<double>(fast.identification.size() + 2) * 10 / 300;
    // Sign-on (4 gaps of 50 ms), the settle before it, the meter's reaction, the
    // identification at 300 bit/s, the acknowledgement (5 gaps) and its 40 ms,
    // and up to two receive ticks of latency at the start and the end.
    const double fixed = 0.2 + 0.05 + 0.2 + identWire + 0.25 + 0.04 + 0.1;
    const double bound = wire * 1.1 + fixed;
    std::printf("20 kB block at 57600: exit %d, %.2f s total; wire %.2f s, bound %.2f s: %s\n", r2.status,
                r2.seconds, wire, bound, r2.seconds <= bound ? "within" : "OVER");
    meter2.Stop();
    return r1.status == 0 && r2.status == 0 ? 0 : 1;
}
