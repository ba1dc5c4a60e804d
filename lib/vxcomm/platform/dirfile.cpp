#include "vxcomm/platform/dirfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vxcomm {

namespace {

// A name that is one entry: not empty, no "/", no NUL, not "." or "..".
bool IsEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// Error's text into Text, and errno set to Error, for the caller that tells reasons apart.
int Fail(int error, std::string& text) {
  text = std::strerror(error);
  errno = error;
  return -1;
}

// Opens Name in DirFd with Flags (never following a link) and leaves it blocking; a
// directory is refused.
int OpenAt(int dirFd, const std::string& name, int flags, std::string& error) {
  if (!IsEntryName(name)) return Fail(EINVAL, error);
  int fd;
  do {
    fd =
        ::openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(errno, error);
  struct stat st {};
  int reason = 0;
  if (::fstat(fd, &st) != 0)
    reason = errno;
  else if (!S_ISREG(st.st_mode))
    reason = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  else if (const int status = ::fcntl(fd, F_GETFL);
           status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
    reason = errno;
  if (reason == 0) return fd;
  ::close(fd);
  return Fail(reason, error);
}

}  // namespace

int vxOpenDirectory(const std::string& path, std::string& error) {
  if (path.find('\0') != std::string::npos) return Fail(EINVAL, error);
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? Fail(errno, error) : fd;
}

TvxEntryKind vxEntryKind(int dirFd, const std::string& name, std::int64_t* modified) {
  struct stat st {};
  if (!IsEntryName(name) || ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return ekNone;
  if (modified) *modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  if (S_ISLNK(st.st_mode)) return ekLink;
  if (S_ISREG(st.st_mode)) return ekFile;
  if (S_ISDIR(st.st_mode)) return ekDirectory;
  return ekOther;
}

int vxCreateEntry(int dirFd, const std::string& name, TvxEntryResult& result, std::string& error) {
  const int fd = OpenAt(dirFd, name, O_RDWR | O_CREAT | O_EXCL, error);
  result = fd >= 0 ? erDone : errno == EEXIST ? erExists : erFailed;
  return fd;
}

int vxOpenEntry(int dirFd, const std::string& name, std::string& error) {
  return OpenAt(dirFd, name, O_RDWR, error);
}

TvxEntryResult vxRenameEntry(int dirFd, const std::string& from, const std::string& to,
                             bool replace, std::string& error) {
  if (!IsEntryName(from) || !IsEntryName(to)) {
    Fail(EINVAL, error);
    return erFailed;
  }
  int done = ::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), replace ? 0 : RENAME_NOREPLACE);
  // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
  if (done != 0 && !replace && errno == EINVAL) {
    done = ::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0);
    if (done == 0) ::unlinkat(dirFd, from.c_str(), 0);
  }
  if (done == 0) return erDone;
  if (errno == EEXIST) return erExists;
  Fail(errno, error);
  return erFailed;
}

bool vxRemoveEntry(int dirFd, const std::string& name) {
  return IsEntryName(name) && ::unlinkat(dirFd, name.c_str(), 0) == 0;
}

bool vxSetEntryTime(int dirFd, const std::string& name, std::int64_t seconds) {
  if (!IsEntryName(name)) return false;
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  return ::utimensat(dirFd, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace vxcomm
