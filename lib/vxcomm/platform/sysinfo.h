// Facts about the running system for the version text and the log file's default path:
// the kernel's uname fields, the distribution's os-release name, the executable's path
// and the version that a shared object's file name carries.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace vxcomm {

struct TvxOsInfo {
  std::string kernelName;  // uname sysname, "Linux"
  std::string release;     // uname release, "6.1.0-18-amd64"
  std::string version;     // uname version, "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"
  std::string prettyName;  // PRETTY_NAME of os-release; empty where the system has none
};

// The running system; nothing when uname fails.
std::optional<TvxOsInfo> vxReadOsInfo();
// PRETTY_NAME from the text of an os-release file (shell-style quoting undone); empty
// when the text has none.
std::string vxOsReleasePrettyName(const std::string& osRelease);
// The absolute path of the running executable (from /proc/self/exe); empty if unknown.
std::string vxExecutablePath();
// The version of a shared object: the numbers after ".so." in the name of the file that
// Path finally names (libx.so.1 -> libx.so.1.2.3 gives 1, 2, 3, 0). Nothing for a file
// that does not exist or whose name carries no version.
std::optional<std::array<unsigned, 4>> vxFileVersion(const std::string& path);

}  // namespace vxcomm
