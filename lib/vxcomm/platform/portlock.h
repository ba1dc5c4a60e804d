// UUCP lock files: how serial programs on Linux tell each other that a port is in use.
//
// The lock of a device is the file LCK..<name> in the lock directory, where <name> is the
// file name of the device the path resolves to, symbolic links followed (LCK..ttyUSB0 for
// /dev/serial/by-id/usb-..., LCK..3 for /dev/pts/3). It holds the owner's PID as ten ASCII
// characters and a newline. A lock whose process is gone is stale and is removed.
//
// Directories: /run/lock, then /var/lock (the same directory on most systems). A lock found
// in any of them is honoured; the own lock is written in the first one that takes it. Where
// none exists or none can be written, no lock is written and nothing fails: the device's
// advisory lock and TIOCEXCL are then the only guard.
//
// Thread: any; a TvxPortLock object belongs to one thread at a time.
#pragma once

#include <string>
#include <vector>

namespace vxcomm {

// The process named by a lock file that is in force.
struct TvxLockOwner {
  int pid = 0;
  std::string name;  // /proc/PID/comm, empty when it cannot be read
  std::string file;  // the lock file's path
};

class TvxPortLock {
 public:
  TvxPortLock() = default;
  TvxPortLock(const TvxPortLock&) = delete;
  TvxPortLock& operator=(const TvxPortLock&) = delete;
  // Removes the lock file when this object wrote it.
  ~TvxPortLock() { Release(); }

  // Takes the lock of the device DevicePath resolves to. Returns 0 when the lock was
  // written, or when no lock directory can be written (Held() is false then). Returns
  // EBUSY, with Owner filled, when a lock names a live process other than this one (or
  // cannot be read). A lock that names this process is left alone: another open in this
  // process may hold the port, which the device's own lock then tells.
  int Take(const std::string& devicePath, TvxLockOwner& owner);
  // Called once the device is open and its own lock taken: a lock of this process that
  // Take left alone belongs to no other open after all, and is taken over.
  void Adopt();
  // Removes the lock file, if this object wrote or adopted it and it still names this
  // process.
  void Release();
  bool Held() const { return !file_.empty(); }
  const std::string& File() const { return file_; }

 private:
  std::string file_;       // the lock this object holds
  std::string adoptable_;  // a lock of this process that Take found
};

// "LCK.." and the file name of the device DevicePath resolves to; empty for a path that
// names no file.
std::string vxLockFileName(const std::string& devicePath);
// The directories searched for locks, in order. An empty list restores /run/lock and
// /var/lock; tests point them elsewhere.
void vxSetLockDirectories(std::vector<std::string> dirs);
std::vector<std::string> vxLockDirectories();
// The text of a refusal: "... (the port is in use by process 4242 "kermit", lock file
// /run/lock/LCK..ttyS0)" after the system's text for EBUSY; for an owner without a lock file
// (a flock holder) "... (the port is in use by process 4242 "picocom", which has it locked)".
std::string vxLockOwnerText(const TvxLockOwner& owner);
// The process other than this one that holds a lock on the device file at Path (flock, or a
// POSIX or open-file lock), as /proc/locks tells; Pid 0 when there is none or it cannot be
// read.
TvxLockOwner vxDeviceLockHolder(const std::string& path);

}  // namespace vxcomm
