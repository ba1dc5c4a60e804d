#include "vxcomm/platform/logfileio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vxcomm {

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
  // The file usually exists: try that first, so an append costs one path lookup.
  bool created = false;
  // O_APPEND lets an append go without asking for the size first.
  int fd = OpenNoInterrupt(path.c_str(), O_RDWR | O_APPEND);
  if (fd < 0 && errno == ENOENT) {
    fd = OpenNoInterrupt(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0644);
    created = fd >= 0;
    if (!created && errno == EEXIST)
      fd = OpenNoInterrupt(path.c_str(), O_RDWR | O_APPEND);  // made meanwhile
  }
  if (fd < 0) return false;
  bool locked = created || share == shExclusive
                    ? LockWithoutWaiting(fd, LOCK_EX)
                    : LockWithoutWaiting(fd, LOCK_SH) && LockAgainstWriters(fd);
  if (!locked) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_known_ = false;
  appending_ = true;
  return true;
}

bool TvxLogFileIO::Size(std::uint64_t& size) {
  if (fd_ < 0) return false;
  if (!size_known_) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    size_ = static_cast<std::uint64_t>(st.st_size);
    size_known_ = true;
  }
  size = size_;
  return true;
}

bool TvxLogFileIO::KeepNewest(std::uint64_t keep) {
  std::uint64_t size;
  if (!Size(size)) return false;
  // Writes at the start need O_APPEND off (Linux would append them).
  if (appending_ && ::fcntl(fd_, F_SETFL, 0) != 0) return false;
  appending_ = false;
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
  if (::ftruncate(fd_, static_cast<off_t>(std::min(keep, size))) != 0) return false;
  size_ = std::min(keep, size);
  return true;
}

bool TvxLogFileIO::Append(const char* data, std::size_t len) {
  if (fd_ < 0) return false;
  std::uint64_t written = 0;
  bool ok;
  if (appending_) {
    ok = true;
    while (written < len) {
      ssize_t n = ::write(fd_, data + written, len - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      written += static_cast<std::uint64_t>(n);
    }
  } else {
    ok = WriteAll(fd_, data, len, static_cast<off_t>(size_));
  }
  if (ok) {
    size_ += len;
    return true;
  }
  // Cut off what a write that failed part-way left: the whole text comes again later.
  std::uint64_t before = size_;
  if (appending_) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < written) return false;
    before = static_cast<std::uint64_t>(st.st_size) - written;
  }
  if (::ftruncate(fd_, static_cast<off_t>(before)) == 0) {
    size_ = before;
    size_known_ = true;
  }
  return false;
}

bool vxDeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

}  // namespace vxcomm
