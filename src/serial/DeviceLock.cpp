#include "serial/DeviceLock.h"

#ifdef __linux__
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace varnel {

#ifdef __linux__
namespace {

struct LockFile {
    bool exists = false;
    long pid = 0;        // 0: the file names no process
    std::string program; // the name QSerialPort writes after the id; empty in UUCP-style files
};

LockFile ReadLockFile(const std::string& path)
{
    LockFile lock;
    std::ifstream in(path, std::ios::binary);
    lock.exists = in.is_open();
    if (!(in >> lock.pid) || lock.pid < 1)
        lock.pid = 0;
    in.ignore(1);
    std::getline(in, lock.program);
    return lock;
}

// The running program with that id, as the system names it (up to 15 characters); empty once it has ended.
std::string ProgramOf(long pid)
{
    if (pid < 1 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return {};
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "unknown program" : name;
}

std::string Named(long pid, const std::string& program)
{
    return "PID " + std::to_string(pid) + " (" + program + ")";
}

} // namespace

std::string LockFilePath(const std::string& device)
{
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    name = "/LCK.." + name;
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                               "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const std::string path = folder + name;
        if (::access(folder, R_OK) == 0 && (::access(path.c_str(), F_OK) == 0 || ::access(folder, W_OK) == 0))
            return path;
    }
    return {};
}

std::string FlockHolder(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        if (fields >> number >> kind >> mode >> access >> pid >> file && number != "->" && kind == "FLOCK"
            && file == id)
            if (const std::string program = ProgramOf(pid); !program.empty())
                return Named(pid, program);
    }
    return {};
}

std::string CheckLockFile(const std::string& device)
{
    const std::string path = LockFilePath(device);
    const LockFile lock = ReadLockFile(path);
    if (!lock.exists || lock.pid == 0 || lock.pid == ::getpid())
        return {};
    // A lock that names its program is QSerialPort's to judge, which also
    // knows an id since taken by another program.
    if (const std::string program = ProgramOf(lock.pid); !program.empty())
        return lock.program.empty() ? "Device is in use by " + Named(lock.pid, program) : std::string();
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return {};
    return "Device is locked by " + path + ", left by PID " + std::to_string(lock.pid)
           + ", which has ended: remove it (" + std::strerror(errno) + ")";
}

std::string InUse(const std::string& device)
{
    const std::string path = LockFilePath(device);
    const LockFile lock = ReadLockFile(path);
    if (const std::string program = ProgramOf(lock.pid); !program.empty())
        return "Device is in use by " + Named(lock.pid, program);
    if (const std::string holder = FlockHolder(device); !holder.empty())
        return "Device is in use by " + holder;
    // QSerialPort waits until such a lock is half a minute old.
    if (lock.exists)
        return "Device is locked by " + path + ", which names no running program";
    return "Device is in use by another program";
}

#else

std::string LockFilePath(const std::string&)
{
    return {};
}

std::string CheckLockFile(const std::string&)
{
    return {};
}

std::string InUse(const std::string&)
{
    return "Device is in use by another program";
}

std::string FlockHolder(const std::string&)
{
    return {};
}

#endif

} // namespace varnel
