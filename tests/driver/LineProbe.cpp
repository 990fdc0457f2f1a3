// Runs a command while watching a serial device's line settings and modem lines
// through a descriptor opened before the command starts: the kernel raises RTS and
// DTR at every open, so a later open would hide what the command left lowered. Each
// new state goes to stderr, e.g. "9600 7E1 RTS dtr" (lower case: lowered).
#include <cstdio>
#include <string>

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string State(int fd)
{
    termios2 t{}; // carries the speed in bauds, where termios has only codes
    int lines = 0;
    if (ioctl(fd, TCGETS2, &t) != 0 || ioctl(fd, TIOCMGET, &lines) != 0)
        return "unreadable";
    const tcflag_t c = t.c_cflag;
    const char parity = !(c & PARENB) ? 'N' : (c & PARODD) ? 'O' : 'E';
    return std::to_string(t.c_ospeed) + ' ' + "5678"[(c & CSIZE) / CS6] + parity + ((c & CSTOPB) ? '2' : '1')
           + ((lines & TIOCM_RTS) ? " RTS" : " rts") + ((lines & TIOCM_DTR) ? " DTR" : " dtr");
}

} // namespace

int main(int argc, char** argv)
{
    const int fd = argc < 3 ? -1 : open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror("LineProbe DEVICE COMMAND [ARG...]");
        return 66;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    std::string last;
    int status = 0;
    for (pid_t done = 0; done != child;) {
        done = waitpid(child, &status, WNOHANG);
        if (const std::string now = State(fd); now != last)
            std::fprintf(stderr, "%s\n", (last = now).c_str());
        usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
