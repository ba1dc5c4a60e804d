#include "support/cpuload.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

CpuLoad::CpuLoad(std::chrono::seconds limit) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const auto until = std::chrono::steady_clock::now() + limit;
  for (unsigned i = 0; i < cores; ++i)
    threads_.emplace_back([this, until] {
      // Arithmetic the compiler cannot drop; the clock is read only now and then.
      volatile std::uint64_t sink = 0;
      while (!stop_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < until)
        for (int k = 0; k < 100000; ++k) sink = sink * 6364136223846793005u + 1;
    });
}

CpuLoad::~CpuLoad() {
  stop_ = true;
  for (auto& t : threads_) t.join();
}

CpuLoad* CpuLoad::FromEnvironment() {
  static const std::unique_ptr<CpuLoad> load = []() -> std::unique_ptr<CpuLoad> {
    const char* value = std::getenv("VXCOMM_TEST_LOAD");
    const long seconds = value ? std::strtol(value, nullptr, 10) : 0;
    if (seconds <= 0) return nullptr;
    auto started = std::make_unique<CpuLoad>(std::chrono::seconds(seconds));
    std::printf("Under load: %d busy threads for up to %ld s\n", started->Threads(), seconds);
    return started;
  }();
  return load.get();
}
