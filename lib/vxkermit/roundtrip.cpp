#include "vxkermit/roundtrip.h"

#include <algorithm>

namespace vxkermit {

void TRoundTrip::Sent() {
  sent_at_ = std::chrono::steady_clock::now();
  timing_ = true;
}

void TRoundTrip::Replied() {
  if (!timing_) return;
  timing_ = false;
  const double us = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - sent_at_)
                                            .count());
  smoothed_us_ = measured_ ? smoothed_us_ + (us - smoothed_us_) / 8 : us;
  measured_ = true;
}

void TRoundTrip::Reset() {
  timing_ = false;
  measured_ = false;
  smoothed_us_ = 0;
}

int TRoundTrip::ReplyTimeout(int minMs, int maxMs) const {
  if (!measured_) return maxMs;
  const int ms = static_cast<int>(4 * smoothed_us_ / 1000);
  return std::min(maxMs, std::max(minMs, ms));
}

}  // namespace vxkermit
