#include "vxcomm/platform/debugout.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace vxcomm {

namespace {

std::atomic<bool> debug_output_enabled{false};

}  // namespace

bool vxDebugOutputToJournal() {
  // journald's native socket is there exactly while it runs; it also serves syslog(3).
  static const bool journal = [] {
    if (access("/run/systemd/journal/socket", F_OK) != 0) return false;
    openlog(nullptr, LOG_PID, LOG_USER);
    return true;
  }();
  return journal;
}

void vxSetDebugOutputEnabled(bool enabled) {
  debug_output_enabled.store(enabled);
}

bool vxDebugOutputEnabled() {
  return debug_output_enabled.load();
}

void vxOutputDebugString(const std::string& text) {
  if (!debug_output_enabled.load(std::memory_order_relaxed)) return;
  if (vxDebugOutputToJournal()) {
    syslog(LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
    return;
  }
  static std::mutex mutex;  // one whole line per call, whatever threads write
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace vxcomm
