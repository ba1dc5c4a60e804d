#include "vxcomm/platform/portlock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vxcomm {

namespace {
std::mutex dirs_mutex;  // guards dirs_override
std::vector<std::string> dirs_override;

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The existing lock directories, each real directory once.
std::vector<std::string> ExistingDirectories() {
  std::vector<std::string> found, seen;
  for (const std::string& dir : vxLockDirectories()) {
    if (!IsDirectory(dir)) continue;
    char real[PATH_MAX];
    std::string key = ::realpath(dir.c_str(), real) ? real : dir;
    bool again = false;
    for (const std::string& s : seen) again |= s == key;
    if (again) continue;
    seen.push_back(key);
    found.push_back(dir);
  }
  return found;
}

// What a lock file says.
struct LockContent {
  bool exists = false;
  int pid = 0;  // 0 when the content names no process
  std::string raw;
};

LockContent ReadLock(const std::string& file) {
  LockContent content;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    // A lock that is there but cannot be read is in force for whoever wrote it.
    content.exists = errno != ENOENT;
    content.pid = content.exists ? -1 : 0;
    return content;
  }
  content.exists = true;
  char buffer[64];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return content;
  content.raw.assign(buffer, static_cast<std::size_t>(n));
  // The old binary format: the PID as a 4-byte integer.
  bool ascii = true;
  for (char c : content.raw) ascii &= (c >= '0' && c <= '9') || c == ' ' || c == '\n';
  if (!ascii) {
    if (n == 4) std::memcpy(&content.pid, buffer, 4);
    if (content.pid < 0) content.pid = 0;
    return content;
  }
  long pid = std::strtol(content.raw.c_str(), nullptr, 10);
  content.pid = pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
  return content;
}

// A zombie (exited, not yet reaped by its parent) holds no port: its lock is stale.
bool Zombie(int pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[512];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return false;
  buffer[n] = '\0';
  // "pid (comm) S ...": the state follows the last ')', since comm may hold one.
  const char* close = std::strrchr(buffer, ')');
  return close && close[1] == ' ' && close[2] == 'Z';
}

bool Alive(int pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM) && !Zombie(pid);
}

std::string CommandName(int pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[64];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  std::string name(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  return name;
}

// Writes this process's lock as File, atomically: a complete file is linked to the name,
// which fails with EEXIST when another lock got there first.
int WriteLock(const std::string& dir, const std::string& file) {
  static std::atomic<unsigned> counter{0};
  char temp_name[64];
  std::snprintf(temp_name, sizeof temp_name, "/LTMP.%d.%u", static_cast<int>(::getpid()),
                counter++);
  const std::string temp = dir + temp_name;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  char text[16];
  int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  int error = ::write(fd, text, static_cast<std::size_t>(len)) == len ? 0 : (errno ? errno : EIO);
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::link(temp.c_str(), file.c_str()) != 0) error = errno;
  ::unlink(temp.c_str());
  return error;
}
}  // namespace

void vxSetLockDirectories(std::vector<std::string> dirs) {
  std::lock_guard lock(dirs_mutex);
  dirs_override = std::move(dirs);
}

std::vector<std::string> vxLockDirectories() {
  std::lock_guard lock(dirs_mutex);
  if (!dirs_override.empty()) return dirs_override;
  return {"/run/lock", "/var/lock"};
}

std::string vxLockFileName(const std::string& devicePath) {
  char real[PATH_MAX];
  std::string path = ::realpath(devicePath.c_str(), real) ? real : devicePath;
  while (!path.empty() && path.back() == '/') path.pop_back();
  std::string base = path.substr(path.find_last_of('/') + 1);
  return base.empty() ? std::string() : "LCK.." + base;
}

std::string vxLockOwnerText(const TvxLockOwner& owner) {
  std::string text = std::strerror(EBUSY);
  text += " (the port is in use by process ";
  text += owner.pid > 0 ? std::to_string(owner.pid) : std::string("unknown");
  if (!owner.name.empty()) text += " \"" + owner.name + "\"";
  if (owner.file.empty()) return text + ", which has it locked)";
  return text + ", lock file " + owner.file + ")";
}

TvxLockOwner vxDeviceLockHolder(const std::string& path) {
  TvxLockOwner owner;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return owner;
  std::FILE* f = std::fopen("/proc/locks", "re");
  if (!f) return owner;
  std::string table;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) table.append(buffer, n);
  std::fclose(f);
  const int self = static_cast<int>(::getpid());
  std::size_t at = 0;
  while (at < table.size()) {
    std::size_t end = table.find('\n', at);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(at, end - at);
    at = end + 1;
    // "1: FLOCK  ADVISORY  WRITE 4242 00:05:87 0 EOF"; waiters ("1: -> FLOCK ...") hold nothing.
    char kind[16], mode[16], access[16];
    int pid = 0;
    unsigned major_no = 0, minor_no = 0;
    unsigned long inode = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %d %x:%x:%lu", kind, mode, access, &pid,
                    &major_no, &minor_no, &inode) != 7)
      continue;
    if (pid <= 0 || pid == self || inode != st.st_ino || major_no != major(st.st_dev) ||
        minor_no != minor(st.st_dev))
      continue;
    owner.pid = pid;
    owner.name = CommandName(pid);
    break;
  }
  return owner;
}

int TvxPortLock::Take(const std::string& devicePath, TvxLockOwner& owner) {
  Release();
  const std::string name = vxLockFileName(devicePath);
  if (name.empty()) return 0;
  const int self = static_cast<int>(::getpid());
  const std::vector<std::string> dirs = ExistingDirectories();
  // A lock that appears between the look and the write sends us round once more.
  for (int round = 0; round < 4; ++round) {
    bool own_found = false;
    for (const std::string& dir : dirs) {
      const std::string file = dir + "/" + name;
      LockContent content = ReadLock(file);
      if (!content.exists) continue;
      if (content.pid == self) {
        own_found = true;
        adoptable_ = file;
        continue;
      }
      if (content.pid < 0 || Alive(content.pid)) {
        owner.pid = content.pid;
        owner.name = content.pid > 0 ? CommandName(content.pid) : std::string();
        owner.file = file;
        return EBUSY;
      }
      // Stale: removed only while it still says what was read, so that a lock another
      // program wrote meanwhile stays.
      if (ReadLock(file).raw == content.raw) ::unlink(file.c_str());
    }
    if (own_found) return 0;
    bool raced = false;
    for (const std::string& dir : dirs) {
      const std::string file = dir + "/" + name;
      int error = WriteLock(dir, file);
      if (error == 0) {
        file_ = file;
        return 0;
      }
      if (error == EEXIST) {
        raced = true;
        break;
      }
      // Not writable here (permissions, a read-only file system): the next one, or none.
    }
    if (!raced) return 0;
  }
  return 0;
}

void TvxPortLock::Adopt() {
  if (file_.empty() && !adoptable_.empty() && ReadLock(adoptable_).pid == ::getpid())
    file_ = adoptable_;
  adoptable_.clear();
}

void TvxPortLock::Release() {
  adoptable_.clear();
  if (file_.empty()) return;
  if (ReadLock(file_).pid == ::getpid()) ::unlink(file_.c_str());
  file_.clear();
}

}  // namespace vxcomm
