#pragma once

#include <string>

namespace varnel {

// Who else holds a serial device. Programs keep a lock file LCK..NAME (QSerialPort
// as well as UUCP-style ones such as minicom) whose first number is the holder's
// process id; a process that ends without removing it leaves it stale.

// The lock file QSerialPort takes for `device` (a path, symbolic links resolved):
// in the first lock folder that is readable and either holds it or may take it.
std::string LockFilePath(const std::string& device);

// Before an open of `device`: a lock file whose process has ended is removed.
// Returns why the open must not go on: the lock is a running program's that
// writes no name into it ("Device is in use by PID n (program)"), which
// QSerialPort would take for stale, or a stale one cannot be removed. Empty
// when the open may go on.
std::string CheckLockFile(const std::string& device);

// Why `device`, which an open found held, is held: "Device is in use by PID n
// (program)" for the running process that has its lock file or a flock on it,
// else the lock file, else "Device is in use by another program".
std::string InUse(const std::string& device);

// "PID n (program)" of the running process holding a flock on `path`.
std::string FlockHolder(const std::string& path);

} // namespace varnel
