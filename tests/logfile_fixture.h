// Shared helpers of the log file tests: real files in a fresh directory, and a log file
// component that shows its internal path resolution.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "support/ptypair.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxlogfile.h"

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class TestLogFile : public TvxLogFile {
 public:
  using TvxLogFile::ResolveFileName;
  using TvxLogFile::TvxLogFile;
};

// Options without time stamps, debugger output or the executable's name: entries are
// "\r\n" and the text, written to Path at once.
inline void PlainSafeLog(TvxLogFile& log, const std::string& path) {
  log.SetOptions({loSafeMode});
  log.SetFileName(path);
}
