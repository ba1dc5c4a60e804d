#include "support/lineleft.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "vxcomm/platform/portlock.h"
#include "vxcomm/unqualified.h"

struct termios LineSettingsOf(const std::string& path) {
  struct termios tio = {};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return tio;
  tcgetattr(fd, &tio);
  ::close(fd);
  return tio;
}

bool SameLineSettings(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b) &&
         std::equal(std::begin(a.c_cc), std::end(a.c_cc), std::begin(b.c_cc));
}

std::vector<std::string> LockFilesOf(const std::string& device) {
  std::vector<std::string> found;
  for (const std::string& dir : vxLockDirectories()) {
    const std::string file = dir + "/" + vxLockFileName(device);
    if (::access(file.c_str(), F_OK) == 0) found.push_back(file);
  }
  return found;
}
