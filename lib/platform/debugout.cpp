#include "platform/debugout.h"

#include <cstdio>
#include <mutex>

void vxOutputDebugString(const std::string& text) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}
