#include "progressline.h"

#include <algorithm>
#include <cmath>

namespace {

// Bytes in the unit a reader takes in at a glance: B, KiB, MiB, GiB.
std::string Size(double bytes) {
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

constexpr int kTerminalRefreshMs = 100;
constexpr int kPlainEveryMs = 5000;

}  // namespace

std::string FormatProgress(const std::string& name, std::int64_t done, std::int64_t total,
                           double seconds, int errors, int retrying) {
  std::string line = name + "  " + Size(static_cast<double>(done));
  if (total >= 0 && total >= done) {
    line += " of " + Size(static_cast<double>(total));
    const double part = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
    line += "  " + std::to_string(static_cast<int>(std::clamp(part, 0.0, 1.0) * 100)) + "%";
  }
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  if (rate > 0) {
    line += "  " + Size(rate) + "/s";
    if (total >= 0 && total >= done) {
      const auto left = static_cast<long long>(std::ceil(static_cast<double>(total - done) / rate));
      char text[32];
      std::snprintf(text, sizeof text, "  %lld:%02lld left", left / 60, left % 60);
      line += text;
    }
  }
  if (errors > 0) line += "  " + std::to_string(errors) + (errors == 1 ? " error" : " errors");
  if (retrying > 0) line += "  retry " + std::to_string(retrying);
  return line;
}

void TProgressLine::Start(const std::string& path) {
  name_ = path.substr(path.find_last_of('/') + 1);
  done_ = 0;
  file_clock_.start();
  shown_.invalidate();
  open_ = true;
}

void TProgressLine::Update(std::int64_t done, std::int64_t total, int errors, int retrying) {
  if (!open_) return;
  done_ = done;
  const int every = terminal_ ? kTerminalRefreshMs : kPlainEveryMs;
  if (shown_.isValid() && shown_.elapsed() < every) return;
  shown_.start();
  Write(done, total, errors, retrying, false);
}

void TProgressLine::Finish(std::int64_t total, int errors) {
  if (!open_) return;
  Write(done_, total, errors, 0, true);
  open_ = false;
}

void TProgressLine::Break() {
  if (shown_width_ == 0) return;
  std::fputc('\n', out_);
  shown_width_ = 0;
}

void TProgressLine::Write(std::int64_t done, std::int64_t total, int errors, int retrying,
                          bool last) {
  const double seconds = static_cast<double>(file_clock_.nsecsElapsed()) / 1e9;
  const std::string line = FormatProgress(name_, done, total, seconds, errors, retrying);
  if (terminal_) {
    // Over the previous line; blanks wipe what a longer one left.
    const std::size_t pad = shown_width_ > line.size() ? shown_width_ - line.size() : 0;
    std::fprintf(out_, "\r%s%s%s", line.c_str(), std::string(pad, ' ').c_str(), last ? "\n" : "");
    shown_width_ = last ? 0 : line.size();
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}
