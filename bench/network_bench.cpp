// Wall time of a 9.5 kB readout at 9600 bit/s through ser2net (RFC 2217, the rate switch included) against
// the same readout on the simulated meter's pseudo-terminal, runs interleaved, and the overhead of the link:
//   <build>/bench/network_bench [RUNS]    (default 5; needs ser2net)

#include "MeterLines.h"
#include "PtyMeter.h"
#include "Ser2net.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Seconds of one varnel-read run from its start to its exit; negative when the readout failed.
double Readout(const std::string& port)
{
    QProcess reader;
    reader.setWorkingDirectory(QDir::tempPath());
    reader.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    reader.start(VARNEL_READER, {"--port", QString::fromStdString(port), "--format", "csv"});
    reader.waitForFinished(120000);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0 ? seconds : -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varnel;
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (test::Ser2net::Program().isEmpty()) {
        std::fprintf(stderr, "ser2net is not installed (scripts/setup-deps installs it)\n");
        return 1;
    }
    sim::MeterConfig config;
    config.lines = MeterLines(9500);
    sim::PtyMeter meter(config);
    std::string error;
    if (meter.Start(error) != sim::PtyMeter::StartResult::Ok) {
        std::fprintf(stderr, "meter: %s\n", error.c_str());
        return 1;
    }
    test::TempDir dir;
    test::Ser2net ser2net(meter.DevicePath(), dir.File("ser2net.yaml"));
    std::vector<double> pty, net;
    // Interleaved, so that a busy moment of the machine falls on both alike.
    for (int i = 0; i < runs; ++i) {
        pty.push_back(Readout(meter.DevicePath()));
        net.push_back(Readout(ser2net.Url()));
        // ser2net lets the device go, restoring the line settings it found, a moment after the connection
        // ends: the next run on the pseudo-terminal must not meet that.
        QThread::msleep(1000);
        std::printf("run %d: pseudo-terminal %.3f s, ser2net %.3f s\n", i + 1, pty.back(), net.back());
    }
    if (*std::min_element(pty.begin(), pty.end()) < 0 || *std::min_element(net.begin(), net.end()) < 0) {
        std::fprintf(stderr, "a readout failed\n");
        return 1;
    }
    const double overhead = (Median(net) / Median(pty) - 1) * 100;
    std::printf(
        "9.5 kB at 9600 bit/s, median of %d: pseudo-terminal %.3f s, ser2net %.3f s; overhead %+.2f %% "
        "(target under 2 %%)\n",
        runs, Median(pty), Median(net), overhead);
    return 0;
}
