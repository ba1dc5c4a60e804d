#include "vxcomm/platform/statedir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vxcomm {

std::string vxUserStateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/vxcomm";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/vxcomm";
  return {};
}

bool vxMakeDirectories(const std::string& path, std::string& error) {
  // Each prefix ending before a separator, then the whole path.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    std::string part = path.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = std::strerror(ENOTDIR);
    return false;
  }
  return true;
}

}  // namespace vxcomm
