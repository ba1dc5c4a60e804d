#include "vxcomm/platform/fileio.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxcomm {

namespace {

bool Fail(std::string& error) {
  error = std::strerror(errno);
  return false;
}

}  // namespace

std::int64_t vxReadFile(int fd, void* buffer, std::int64_t count, std::string& error) {
  ssize_t got;
  do {
    got = ::read(fd, buffer, static_cast<std::size_t>(count));
  } while (got < 0 && errno == EINTR);
  if (got < 0) Fail(error);
  return got;
}

bool vxWriteFile(int fd, const void* buffer, std::int64_t count, std::string& error) {
  const char* at = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t put = ::write(fd, at, static_cast<std::size_t>(count));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Fail(error);
    // Nothing taken and no reason given: the device is full.
    if (put == 0) {
      errno = ENOSPC;
      return Fail(error);
    }
    at += put;
    count -= put;
  }
  return true;
}

bool vxSeekFile(int fd, std::int64_t position, std::string& error) {
  return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0 || Fail(error);
}

std::int64_t vxFileSize(int fd, std::string& error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    Fail(error);
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t vxFileModifiedTime(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_mtim.tv_sec) : -1;
}

bool vxResizeFile(int fd, std::int64_t size, std::string& error) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0 || Fail(error);
}

bool vxSyncFile(int fd, std::string& error) {
  int done;
  do {
    done = ::fdatasync(fd);
  } while (done != 0 && errno == EINTR);
  return done == 0 || Fail(error);
}

bool vxSetFileTime(int fd, std::int64_t seconds, long nanoseconds, std::string& error) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                    {static_cast<time_t>(seconds), nanoseconds}};
  return ::futimens(fd, times) == 0 || Fail(error);
}

bool vxCloseFile(int fd, std::string& error) {
  // Closed whatever it reports; EINTR must not lead to a second close.
  return ::close(fd) == 0 || errno == EINTR || Fail(error);
}

}  // namespace vxcomm
