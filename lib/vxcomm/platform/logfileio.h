// One open of a log file for one append: created when missing, locked against other
// writers for as long as the object lives, closed by the destructor.
//
// Sharing is advisory, between processes and components that follow the same convention
// (readers that want to be polite take flock LOCK_SH; readers that take no lock, such as
// tail or less, can always read):
// - exclusive: flock LOCK_EX, so neither a locking reader nor another writer gets in;
// - deny-write: flock LOCK_SH plus an open-file-description write lock over the whole
//   file, so locking readers still get in but a second writer (of either kind) does not.
// Every lock is taken without waiting: a file that is in use fails the open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxcomm {

class TvxLogFileIO {
 public:
  enum TShare { shExclusive, shDenyWrite };

  TvxLogFileIO() = default;
  ~TvxLogFileIO();
  TvxLogFileIO(const TvxLogFileIO&) = delete;
  TvxLogFileIO& operator=(const TvxLogFileIO&) = delete;

  // Creates Path as a new empty file (always exclusive), or opens the existing file for
  // reading and writing with Share. False when it cannot be created, opened or locked.
  bool Open(const std::string& path, TShare share);
  bool IsOpen() const { return fd_ >= 0; }
  // The file's current size, read once (no other writer changes it while we hold it);
  // false when it cannot be read.
  bool Size(std::uint64_t& size);
  // Keeps only the newest Keep bytes: moves them to the start and ends the file there.
  bool KeepNewest(std::uint64_t keep);
  // Writes Len bytes at the end. On failure the file is cut back to its size before the
  // call, so a text that was offered again later is never written twice.
  bool Append(const char* data, std::size_t len);
  void Close();

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;  // valid with size_known_
  bool size_known_ = false;
  bool appending_ = true;  // opened with O_APPEND, not yet cleared for a cut
};

// Removes the file at Path; false when it cannot (a missing file included).
bool vxDeleteFile(const std::string& path);

}  // namespace vxcomm
