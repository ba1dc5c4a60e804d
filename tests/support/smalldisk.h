// A directory that fills up after a few KiB: a tmpfs of that size mounted on a new directory
// when the test may mount (as root), else the process's own file size limit (RLIMIT_FSIZE,
// with SIGXFSZ ignored), which gives the same short write as "File too large".
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <string>

class SmallDisk {
 public:
  // Bytes: what fits before writes fail. With FileSizeLimit the limit is used even where a
  // tmpfs could be mounted.
  explicit SmallDisk(std::size_t bytes, bool fileSizeLimit = false);
  // Unmounts the tmpfs, or puts the file size limit back.
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  const std::string& Path() const { return path_; }
  // Whether a tmpfs is mounted there (else the file size limit is in force).
  bool Mounted() const { return mounted_; }
  // The system's reason a write that does not fit fails with.
  std::string Reason() const;

 private:
  std::string path_;
  bool mounted_ = false;
  struct rlimit saved_ {};
};
