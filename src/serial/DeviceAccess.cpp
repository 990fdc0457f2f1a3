#include "serial/DeviceAccess.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

namespace varnel {

std::string PermissionAdvice(const std::string& device, const std::string& group)
{
    // Joining root's group would be bad advice; an administrator has to grant access.
    if (group.empty() || group == "root")
        return "Permission denied: this user may not read and write " + device
               + "; ask the administrator for access to it";
    return "Permission denied: " + device + " belongs to the group " + group
           + "; add this user to it with\n  sudo usermod -aG " + group + " $USER\nthen log out and in again";
}

std::string DeviceGroup(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return {};
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    const group* g = ::getgrgid(st.st_gid);
    return g != nullptr && g->gr_name != nullptr ? g->gr_name : std::string();
#endif
}

std::string AccessDeniedReason(const std::string& device)
{
    return PermissionAdvice(device, DeviceGroup(device));
}

} // namespace varnel
