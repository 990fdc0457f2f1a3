// varnel-read following a DSMR P1 meter (--listen --count 0 --format jsonl, 8N1 at 115200) through a
// pseudo-terminal, paced like the real line: peak memory and CPU per telegram after 1,000 and after
// 20,000 telegrams (or the counts given), then SIGTERM. Peak memory must not grow with the count.
//   <build>/bench/push_soak_bench [COUNT...]

#include "PtyMeter.h"
#include "PushMeter.h"
#include "Spawn.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A DSMR 5 telegram of a three-phase meter: 33 data lines, about 900 bytes.
std::vector<std::string> P1Lines()
{
    std::vector<std::string> lines = {"1-3:0.2.8(50)", "0-0:1.0.0(250612101530S)",
                                      "0-0:96.1.1(4530303434303036393033333132393137)"};
    for (const char* tariff : {"1.8.1", "1.8.2", "2.8.1", "2.8.2"})
        lines.push_back(std::string("1-0:") + tariff + "(001234.567*kWh)");
    lines.insert(lines.end(), {"0-0:96.14.0(0001)", "1-0:1.7.0(00.519*kW)", "1-0:2.7.0(00.000*kW)",
                               "0-0:96.7.21(00009)", "0-0:96.7.9(00005)",
                               "1-0:99.97.0(1)(0-0:96.7.19)(170609063239S)(0000000267*s)", "0-0:96.13.0()"});
    for (const char* phase : {"32", "52", "72"})
        lines.push_back(std::string("1-0:") + phase + ".7.0(234.8*V)");
    for (const char* phase : {"31", "51", "71"})
        lines.push_back(std::string("1-0:") + phase + ".7.0(001*A)");
    for (const char* phase : {"21", "41", "61", "22", "42", "62"})
        lines.push_back(std::string("1-0:") + phase + ".7.0(00.122*kW)");
    lines.insert(lines.end(), {"0-1:24.1.0(003)", "0-1:96.1.0(4730303339303031373633333738373137)",
                               "0-1:24.2.1(250612101500S)(00212.529*m3)"});
    return lines;
}

struct Figures {
    int status = -1;
    std::size_t telegrams = 0, good = 0;
    double cpu = 0, wall = 0, peakMb = 0;
};

Figures Follow(const std::string& reader, const std::string& device, const std::filesystem::path& dir,
               std::size_t count)
{
    std::vector<std::string> args = {reader,           "--port", device,    "--listen", "--framing", "8N1",
                                     "--initial-baud", "115200", "--count", "0",        "--format",  "jsonl"};
    int out = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(std::move(args), dir.string(), out);
    if (pid < 0)
        return {};
    Figures f;
    std::string line;
    char buf[65536];
    bool stopped = false;
    for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            ++f.telegrams;
            f.good += line.find("\"blockCheck\": \"ok\"") != std::string::npos;
            line.clear();
        }
        if (!stopped && f.telegrams >= count) {
            ::kill(pid, SIGTERM);
            stopped = true;
        }
    }
    ::close(out);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return f;
}

double KiB(const std::filesystem::path& file)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    return ec ? 0 : static_cast<double>(size) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varnel::sim;
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::strtoul(argv[i], nullptr, 10));
    if (counts.empty())
        counts = {1000, 20000};

    bool ok = true;
    for (const std::size_t count : counts) {
        const auto dir =
            std::filesystem::temp_directory_path() / ("varnel-soak-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        MeterConfig config;
        config.identification = "/ISK5\\2M550T-1012";
        config.lines = P1Lines();
        PtyMeter meter(std::make_unique<PushMeter>(config, 0ms, false, true), {});
        std::string error;
        if (meter.Start(error) != PtyMeter::StartResult::Ok) {
            std::fprintf(stderr, "meter: %s\n", error.c_str());
            return 1;
        }
        const Figures f = Follow(VARNEL_READER, meter.DevicePath(), dir, count);
        meter.Stop();
        const bool good = f.status == 0 && f.telegrams >= count && f.good == f.telegrams;
        std::printf("%6zu P1 telegrams at 115200: exit %d, %zu lines (%zu with a good CRC), %.0f s; peak RSS "
                    "%.1f MB, CPU %.3f ms per telegram; log %.0f KiB + %.0f KiB in Log1107.txt.1 %s\n",
                    count, f.status, f.telegrams, f.good, f.wall, f.peakMb,
                    f.telegrams ? f.cpu * 1000 / static_cast<double>(f.telegrams) : 0,
                    KiB(dir / "Log1107.txt"), KiB(dir / "Log1107.txt.1"), good ? "ok" : "FAILED");
        std::fflush(stdout);
        ok = ok && good;
        std::filesystem::remove_all(dir);
    }
    return ok ? 0 : 1;
}
