// CPU seconds per second of a paced readout, for varnel-read and for the
// window, against the simulated meter pacing its block like a real line at
// 9600 and at 57600 bit/s (about 10 s of data each). Target: at most 0.01.
//   QT_QPA_PLATFORM=offscreen <build>/bench/cpu_bench
// varnel-read counts as a whole process (its start-up is part of every
// readout); the window counts from Read to the end of the readout, because it
// stays open from one readout to the next.

#include "MeterLines.h"
#include "Spawn.h"
#include "PtyMeter.h"

#include "ReadoutDlg.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/PortNames.h"
#include "serial/QtSerialPortBackend.h"
#include "widgets/CLinkLabel.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kTarget = 0.01;

double CpuSeconds(const rusage& u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figure {
    int status = -1;
    double cpu = 0;
    double wall = 0;
};

// Runs `argv` in a fresh process in /tmp; its CPU from wait4, or from the two
// numbers it prints (the window child measures itself).
Figure Run(std::vector<std::string> args, bool selfMeasured)
{
    int out = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(std::move(args), "/tmp", out);
    if (pid < 0)
        return {};
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(out);
    Figure f;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.cpu = CpuSeconds(usage);
    if (selfMeasured && std::sscanf(text.c_str(), "%lf %lf", &f.cpu, &f.wall) != 2)
        f.status = -1;
    return f;
}

// The window child: one readout through the dialog, offscreen, then its CPU
// and wall seconds from Read to the end on stdout.
int WindowChild(int argc, char** argv)
{
    using namespace varnel;
    QApplication app(argc, argv);
    QtSerialPortBackend port;
    SystemClock clock;
    PortNames names;
    CReadoutDlg dlg(port, clock, names, {}, "cpu_bench_Log1107.txt");
    dlg.SetMessageHandler([](const std::string& text, MessageIcon) {
        std::fprintf(stderr, "window: %s\n", text.c_str());
        QApplication::exit(1);
    });
    dlg.LinkLabel()->SetDesktop({});
    dlg.Core().serial.SetDeviceOverride(argv[2]);
    if (auto* combo = qobject_cast<QComboBox*>(dlg.Control(IDC_TRANSMIT_BAUD)))
        combo->setCurrentIndex(std::atoi(argv[3]));
    dlg.show();
    QApplication::processEvents();

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    dlg.OnRead();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (dlg.Core().engine.LastEnd() != ReadoutEnd::None)
            QApplication::quit();
    });
    watch.start(200);
    if (QApplication::exec() != 0)
        return 1;
    ::getrusage(RUSAGE_SELF, &after);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.4f %.4f\n", CpuSeconds(after) - CpuSeconds(before), wall);
    std::fflush(stdout);
    return dlg.Core().engine.LastEnd() == ReadoutEnd::BlockCheck ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varnel::sim;
    if (argc == 4 && std::string(argv[1]) == "--window-child")
        return WindowChild(argc, argv);

    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    bool ok = true;
    for (const int rate : {9600, 57600}) {
        MeterConfig config;
        config.lines = MeterLines(static_cast<std::size_t>(rate)); // about 10 s of wire time
        PtyMeter meter(config);
        std::string error;
        if (meter.Start(error) != PtyMeter::StartResult::Ok) {
            std::fprintf(stderr, "meter: %s\n", error.c_str());
            return 1;
        }
        const std::string transmit = rate == 9600 ? "auto" : "57600";
        const Figure cli =
            Run({VARNEL_READER, "--port", meter.DevicePath(), "--format", "csv", "--transmit-baud", transmit},
                false);
        // Transmit combo items: "Auto" first, "57600" last.
        const Figure window =
            Run({self, "--window-child", meter.DevicePath(), rate == 9600 ? "0" : "9"}, true);
        meter.Stop();
        for (const auto& [name, f] : {std::pair{"varnel-read", cli}, std::pair{"window     ", window}}) {
            const double perSecond = f.wall > 0 ? f.cpu / f.wall : 0;
            std::printf("%5d bit/s %s: exit %d, %.3f s CPU in %.2f s: %.4f CPU s per s (target <= %.2f) %s\n",
                        rate, name, f.status, f.cpu, f.wall, perSecond, kTarget,
                        f.status == 0 && perSecond <= kTarget ? "within" : "OVER");
            ok = ok && f.status == 0 && perSecond <= kTarget;
        }
    }
    return ok ? 0 : 1;
}
