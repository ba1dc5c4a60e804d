// The bytes a serial component received, gathered from its delivering thread and read from
// the test's.
#pragma once

#include <mutex>
#include <string>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

struct Bytes {
  void Add(const void* data, Cardinal len) {
    std::lock_guard lock(mutex);
    text.append(static_cast<const char*>(data), len);
  }
  std::string Text() {
    std::lock_guard lock(mutex);
    return text;
  }
  std::mutex mutex;
  std::string text;
};
