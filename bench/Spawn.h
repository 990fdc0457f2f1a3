#pragma once

#include <unistd.h>

#include <string>
#include <vector>

// Starts `args` (the program first) in a fresh process in `dir`, its stdout on a
// pipe whose reading end goes to `out`. The child's pid, or -1.
inline pid_t Spawn(std::vector<std::string> args, const std::string& dir, int& out)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe(pipe) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe[1], 1);
        ::close(pipe[0]);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    out = pipe[0];
    return pid;
}
