#include "vxcomm/vxkermit/roundtrip.h"

#include <algorithm>
#include <cmath>

namespace vxcomm {

namespace vxkermit {

void TRoundTrip::Sent() {
  sent_at_ = std::chrono::steady_clock::now();
  timing_ = true;
}

void TRoundTrip::Replied() {
  if (!timing_) return;
  timing_ = false;
  Measured(std::chrono::steady_clock::now() - sent_at_);
}

void TRoundTrip::Measured(std::chrono::steady_clock::duration roundTrip) {
  Sample(static_cast<double>(
      std::chrono::duration_cast<std::chrono::microseconds>(roundTrip).count()));
}

void TRoundTrip::Sample(double us) {
  // The smoothing of TCP's retransmission timer (RFC 6298): gains 1/8 and 1/4.
  if (measured_) {
    deviation_us_ += (std::abs(smoothed_us_ - us) - deviation_us_) / 4;
    smoothed_us_ += (us - smoothed_us_) / 8;
  } else {
    smoothed_us_ = us;
    deviation_us_ = us / 2;
  }
  slowest_us_ = std::max(slowest_us_, us);
  measured_ = true;
}

void TRoundTrip::Reset() {
  timing_ = false;
  measured_ = false;
  smoothed_us_ = 0;
  deviation_us_ = 0;
  slowest_us_ = 0;
}

int TRoundTrip::ReplyTimeout(int minMs, int maxMs) const {
  if (!measured_) return maxMs;
  const double us = std::max(smoothed_us_ + 4 * deviation_us_, 2 * slowest_us_);
  const int ms = static_cast<int>(std::min<double>(us / 1000, maxMs));
  return std::min(maxMs, std::max(minMs, ms));
}

}  // namespace vxkermit

}  // namespace vxcomm
