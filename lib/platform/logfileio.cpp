#include "platform/logfileio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

int OpenNoInterrupt(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

bool LockWithoutWaiting(int fd, int operation) {
  int rc;
  do rc = ::flock(fd, operation | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// A write lock over the whole file, owned by the open file description, so that it
// excludes a second writer in this process as well as in others.
bool LockAgainstWriters(int fd) {
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;
  return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

bool WriteAll(int fd, const char* data, std::size_t len, off_t offset) {
  while (len > 0) {
    ssize_t n = ::pwrite(fd, data, len, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

TvxLogFileIO::~TvxLogFileIO() {
  Close();
}

void TvxLogFileIO::Close() {
  if (fd_ >= 0) ::close(fd_);  // closing drops both kinds of lock
  fd_ = -1;
}

bool TvxLogFileIO::Open(const std::string& path, TShare share) {
  Close();
  int fd = OpenNoInterrupt(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  bool created = fd >= 0;
  if (!created && errno == EEXIST) fd = OpenNoInterrupt(path.c_str(), O_RDWR);
  if (fd < 0) return false;
  bool locked = created || share == shExclusive
                    ? LockWithoutWaiting(fd, LOCK_EX)
                    : LockWithoutWaiting(fd, LOCK_SH) && LockAgainstWriters(fd);
  if (!locked) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool TvxLogFileIO::Size(std::uint64_t& size) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool TvxLogFileIO::KeepNewest(std::uint64_t keep) {
  std::uint64_t size;
  if (!Size(size)) return false;
  if (keep < size) {
    // Copy forward in blocks: the target always lies before the source.
    std::vector<char> block(std::min<std::uint64_t>(keep, 1u << 16));
    std::uint64_t from = size - keep;
    for (std::uint64_t done = 0; done < keep;) {
      std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), keep - done));
      ssize_t n = ::pread(fd_, block.data(), want, static_cast<off_t>(from + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      if (!WriteAll(fd_, block.data(), static_cast<std::size_t>(n), static_cast<off_t>(done)))
        return false;
      done += static_cast<std::uint64_t>(n);
    }
  }
  return ::ftruncate(fd_, static_cast<off_t>(std::min(keep, size))) == 0;
}

bool TvxLogFileIO::Append(const char* data, std::size_t len) {
  std::uint64_t size;
  if (!Size(size)) return false;
  if (WriteAll(fd_, data, len, static_cast<off_t>(size))) return true;
  // Cut off what a write that failed part-way left: the whole text comes again later.
  [[maybe_unused]] int rc = ::ftruncate(fd_, static_cast<off_t>(size));
  return false;
}

bool vxDeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}
