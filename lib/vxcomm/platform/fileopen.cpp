#include "vxcomm/platform/fileopen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxcomm {

namespace {

bool HasNul(const std::string& name) {
  return name.find('\0') != std::string::npos;
}

std::string Reason(int error) {
  return std::strerror(error);
}

}  // namespace

int vxOpenFile(const std::string& name, int mode, std::string& error) {
  if (HasNul(name)) {
    error = Reason(EINVAL);
    return -1;
  }
  int flags = O_RDONLY;
  if (mode == vxOpenCreate)
    flags = O_RDWR | O_CREAT | O_TRUNC;
  else if (mode == vxOpenWrite)
    flags = O_WRONLY;
  else if (mode == vxOpenReadWrite)
    flags = O_RDWR;
  // Non-blocking only while opening: a FIFO without a writer or a modem line without
  // carrier would otherwise hold the caller here for good.
  int fd;
  do {
    fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = Reason(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = Reason(errno);
    ::close(fd);
    return -1;
  }
  // A directory opens for reading on Linux; it is no file to transfer.
  if (S_ISDIR(st.st_mode)) {
    error = Reason(EISDIR);
    ::close(fd);
    return -1;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    error = Reason(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool vxRemoveFile(const std::string& name) {
  return !HasNul(name) && ::unlink(name.c_str()) == 0;
}

bool vxFileExists(const std::string& name) {
  struct stat st {};
  return !HasNul(name) && ::lstat(name.c_str(), &st) == 0;
}

bool vxWritableDirectory(const std::string& path, std::string& reason) {
  if (HasNul(path)) {
    reason = Reason(EINVAL);
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    reason = Reason(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    reason = Reason(ENOTDIR);
    return false;
  }
  // The effective user creates the files, as for open(2).
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    reason = Reason(errno);
    return false;
  }
  return true;
}

std::int64_t vxFileModifiedTime(const std::string& name) {
  struct stat st {};
  if (HasNul(name) || ::stat(name.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

bool vxSetFileModifiedTime(const std::string& name, std::int64_t seconds) {
  if (HasNul(name)) return false;
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

}  // namespace vxcomm
