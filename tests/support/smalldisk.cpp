#include "support/smalldisk.h"

#include <sys/mount.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "support/ptypair.h"

SmallDisk::SmallDisk(std::size_t bytes, bool fileSizeLimit) : path_(MakeTempDir("small-disk")) {
  const std::string options = "size=" + std::to_string(bytes);
  mounted_ = !fileSizeLimit && ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (mounted_) return;
  if (!fileSizeLimit)
    std::printf("SmallDisk: cannot mount a tmpfs (%s); using RLIMIT_FSIZE\n", std::strerror(errno));
  std::signal(SIGXFSZ, SIG_IGN);
  ::getrlimit(RLIMIT_FSIZE, &saved_);
  struct rlimit small = saved_;
  small.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &small) != 0) throw std::runtime_error("cannot set RLIMIT_FSIZE");
}

SmallDisk::~SmallDisk() {
  if (mounted_)
    ::umount2(path_.c_str(), MNT_DETACH);
  else
    ::setrlimit(RLIMIT_FSIZE, &saved_);
}

std::string SmallDisk::Reason() const {
  return std::strerror(mounted_ ? ENOSPC : EFBIG);
}
