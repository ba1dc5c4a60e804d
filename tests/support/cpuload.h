// Every core kept busy for a bounded time: the tests that must hold on a loaded machine run a
// second time beside it.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// One spinning thread per core, each at the test's own priority, until the object goes or
// Limit has passed (so a test that hangs does not keep the machine busy after its time).
class CpuLoad {
 public:
  explicit CpuLoad(std::chrono::seconds limit);
  ~CpuLoad();
  CpuLoad(const CpuLoad&) = delete;
  CpuLoad& operator=(const CpuLoad&) = delete;

  int Threads() const { return static_cast<int>(threads_.size()); }

  // The load a test process runs under: from VXCOMM_TEST_LOAD (the limit in seconds; unset
  // or 0: none). Started once, on the first call; null when none was asked for.
  static CpuLoad* FromEnvironment();

 private:
  // Written by the owner (the thread that made the object), read by the spinning threads.
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};
