#include "vxcomm/platform/sysinfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vxcomm {

namespace {

// Undoes the shell quoting that os-release allows: "...", '...' and backslash escapes.
std::string Unquote(const std::string& value) {
  std::string out;
  char quote = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char ch = value[i];
    if (quote == '\'') {  // nothing is special inside single quotes
      if (ch == '\'')
        quote = 0;
      else
        out += ch;
    } else if (ch == '\\' && i + 1 < value.size()) {
      out += value[++i];
    } else if (quote == '"') {
      if (ch == '"')
        quote = 0;
      else
        out += ch;
    } else if (ch == '"' || ch == '\'') {
      quote = ch;
    } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '#') {
      break;  // an unquoted blank or comment ends the value
    } else {
      out += ch;
    }
  }
  return out;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string vxOsReleasePrettyName(const std::string& osRelease) {
  std::istringstream lines(osRelease);
  std::string line;
  std::string name;
  while (std::getline(lines, line)) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 12, "PRETTY_NAME=") != 0) continue;
    name = Unquote(line.substr(start + 12));  // the last assignment wins, as in a shell
  }
  return name;
}

std::optional<TvxOsInfo> vxReadOsInfo() {
  utsname uts{};
  if (uname(&uts) != 0) return std::nullopt;
  TvxOsInfo info{uts.sysname, uts.release, uts.version, {}};
  // The distribution's file, with the vendor's copy as the documented fallback.
  std::string osRelease = ReadFile("/etc/os-release");
  if (osRelease.empty()) osRelease = ReadFile("/usr/lib/os-release");
  info.prettyName = vxOsReleasePrettyName(osRelease);
  return info;
}

std::string vxExecutablePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::array<unsigned, 4>> vxFileVersion(const std::string& path) {
  if (path.empty()) return std::nullopt;
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string name(real);
  std::free(real);
  name = name.substr(name.rfind('/') + 1);
  std::size_t so = name.rfind(".so.");
  if (so == std::string::npos) return std::nullopt;
  std::array<unsigned, 4> numbers{};
  std::size_t i = so + 4;
  for (std::size_t part = 0; part < numbers.size(); ++part) {
    std::size_t digits = 0;
    unsigned long value = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 9) {
      value = value * 10 + static_cast<unsigned>(name[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    numbers[part] = static_cast<unsigned>(value);
    if (i == name.size()) return numbers;
    if (name[i] != '.') return std::nullopt;
    ++i;
  }
  return std::nullopt;  // more than four numbers is no version we can show
}

}  // namespace vxcomm
