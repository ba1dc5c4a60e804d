// Throughput of the log file component against plain code doing the same file work,
// measured in one run: per-entry open/append/close (safe mode) and one buffered write
// (without it). Prints entries per second and the time ratios ours/plain.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxlogfile.h"

namespace {

constexpr int kEntries = 100000;
constexpr int kBoundedEntries = 3000;  // every bounded append moves the whole bound
constexpr int kRounds = 3;

std::vector<std::string> Messages(int count) {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    out.push_back("vxKermit: packet " + std::to_string(i % 64) + " sent, " +
                  std::to_string(20 + i % 75) + " bytes, file position " + std::to_string(i * 91));
  return out;
}

// What plain code would write: the same "[date time] " prefix, formatted once a second.
class PlainLines {
 public:
  std::string Line(const std::string& message) {
    std::time_t now = std::time(nullptr);
    if (now != second_) {
      second_ = now;
      std::tm local{};
      localtime_r(&now, &local);
      char buf[64];
      stamp_.assign(buf, std::strftime(buf, sizeof buf, "[%x %X] ", &local));
    }
    return "\r\n" + stamp_ + message;
  }

 private:
  std::time_t second_ = -1;
  std::string stamp_;
};

double Seconds(const std::function<void()>& run) {
  auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of kRounds, each on a fresh file.
double Best(const std::string& path, const std::function<void()>& run) {
  double best = 1e9;
  for (int r = 0; r < kRounds; ++r) {
    std::filesystem::remove(path);
    best = std::min(best, Seconds(run));
  }
  return best;
}

void OursSafe(const std::string& path, const std::vector<std::string>& messages, Cardinal limit) {
  TvxLogFile log;
  log.SetOptions({loSafeMode, loDate, loTime});
  log.SetFileName(path);
  log.SetSizeLimit(limit);
  for (const std::string& m : messages) log.AddEntryAt(dlSimple, m);
}

void OursBuffered(const std::string& path, const std::vector<std::string>& messages) {
  TvxLogFile log;
  log.SetOptions({loDate, loTime});
  log.SetFileName(path);
  log.SetSizeLimit(0);
  for (const std::string& m : messages) log.AddEntryAt(dlSimple, m);
  log.SaveToFile();
}

void PlainOpenAppendClose(const std::string& path, const std::vector<std::string>& messages) {
  PlainLines lines;
  for (const std::string& m : messages) {
    std::string line = lines.Line(m);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      std::abort();
    ::close(fd);
  }
}

// The same cut as the component's bound: keep the newest bytes so that the file ends at
// the limit after the append.
void PlainBoundedOpenAppendClose(const std::string& path, const std::vector<std::string>& messages,
                                 std::size_t limit) {
  PlainLines lines;
  std::vector<char> tail;
  for (const std::string& m : messages) {
    std::string line = lines.Line(m);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    off_t size = ::lseek(fd, 0, SEEK_END);
    if (static_cast<std::size_t>(size) + line.size() > limit) {
      std::size_t keep = limit - line.size();
      tail.resize(keep);
      if (::pread(fd, tail.data(), keep, size - static_cast<off_t>(keep)) !=
              static_cast<ssize_t>(keep) ||
          ::pwrite(fd, tail.data(), keep, 0) != static_cast<ssize_t>(keep) ||
          ::ftruncate(fd, keep) != 0)
        std::abort();
      size = static_cast<off_t>(keep);
    }
    if (::pwrite(fd, line.data(), line.size(), size) != static_cast<ssize_t>(line.size()))
      std::abort();
    ::close(fd);
  }
}

void PlainBuffered(const std::string& path, const std::vector<std::string>& messages) {
  PlainLines lines;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) std::abort();
  for (const std::string& m : messages) {
    std::string line = lines.Line(m);
    std::fwrite(line.data(), 1, line.size(), file);
  }
  std::fclose(file);
}

void Report(const char* what, int entries, double ours, double plain) {
  std::printf("%-44s ours %10.0f entries/s   plain %10.0f entries/s   ratio ours/plain %.2f\n",
              what, entries / ours, entries / plain, ours / plain);
}

}  // namespace

int main() {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vxlogbench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string ours = (dir / "ours.log").string();
  std::string plain = (dir / "plain.log").string();
  std::vector<std::string> messages = Messages(kEntries);
  std::vector<std::string> few(messages.begin(), messages.begin() + kBoundedEntries);

  std::printf(
      "log file: %d entries of about %zu bytes, best of %d rounds (time ratio: lower is better)\n",
      kEntries, messages[kEntries / 2].size() + 23, kRounds);
  double safe = Best(ours, [&] { OursSafe(ours, messages, 0); });
  double perLine = Best(plain, [&] { PlainOpenAppendClose(plain, messages); });
  Report("safe mode vs open/append/close per line", kEntries, safe, perLine);

  double buffered = Best(ours, [&] { OursBuffered(ours, messages); });
  double stream = Best(plain, [&] { PlainBuffered(plain, messages); });
  Report("buffered + one save vs buffered stream", kEntries, buffered, stream);

  double bounded = Best(ours, [&] { OursSafe(ours, few, TvxLogFile::kDefaultSizeLimit / 4); });
  double plainBounded = Best(
      plain, [&] { PlainBoundedOpenAppendClose(plain, few, TvxLogFile::kDefaultSizeLimit / 4); });
  Report("safe mode, 51200-byte bound, full file", kBoundedEntries, bounded, plainBounded);

  std::filesystem::remove_all(dir);
  bool met = safe / perLine <= 1.5 && buffered / stream <= 1.5;
  std::printf("target ours/plain <= 1.5: %s\n", met ? "met" : "NOT met");
  return 0;
}
