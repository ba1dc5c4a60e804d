/// @file
/// The round trip of a packet and its reply, smoothed, and the reply time-out it gives: a
/// bad line then costs a few round trips per lost packet instead of a fixed time-out.
///
/// Thread: none; the Kermit component's thread.
#pragma once

#include "vxcomm_export.h"

#include <chrono>

namespace vxkermit {

/// The smoothed round trip of packet and reply, measured on the steady clock, and the reply
/// time-out it gives. Owned by its component; no lock.
class VXCOMM_EXPORT TRoundTrip {
 public:
  /// A packet went out for the first time: its reply will be timed.
  void Sent();
  /// The packet went out again: a reply can no longer be matched to one copy.
  void Repeated() { timing_ = false; }
  /// A verified packet arrived: the reply to what was sent last, when one was being timed.
  void Replied();
  /// Forgets the measurement: ReplyTimeout gives MaxMs again.
  void Reset();
  /// Four times the smoothed round trip, at least MinMs, never above MaxMs; MaxMs until a
  /// round trip was measured.
  int ReplyTimeout(int minMs, int maxMs) const;

 private:
  std::chrono::steady_clock::time_point sent_at_{};
  bool timing_ = false;
  bool measured_ = false;
  double smoothed_us_ = 0;
};

}  // namespace vxkermit
