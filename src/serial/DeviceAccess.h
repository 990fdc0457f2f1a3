#pragma once

#include <string>

namespace varnel {

// What to tell a user who may not open `device`: the group that owns it
// (typically dialout) and the command that adds them to it. `group` is the
// device's group name, empty when it cannot be told.
std::string PermissionAdvice(const std::string& device, const std::string& group);

// The name of the group that owns `path`; empty when it cannot be told.
std::string DeviceGroup(const std::string& path);

// PermissionAdvice for `device` as it is on this machine.
std::string AccessDeniedReason(const std::string& device);

} // namespace varnel
