/// @file
/// The round trip of a packet and its reply, smoothed, its spread, and the reply time-out they
/// give: a bad line then costs a few round trips per lost packet instead of a fixed time-out,
/// and a loaded machine, whose replies come late now and then, is given the time it showed
/// it needs.
///
/// Thread: none; the Kermit component's thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <chrono>

namespace vxcomm {

namespace vxkermit {

/// The smoothed round trip of packet and reply and its mean deviation, measured on the steady
/// clock, the slowest reply seen, and the reply time-out they give. Owned by its component;
/// no lock.
class VXCOMM_EXPORT TRoundTrip {
 public:
  /// A packet went out for the first time: its reply will be timed.
  void Sent();
  /// The packet that went out is not timed here: a repeat (a reply cannot be matched to one
  /// copy) or a packet of a window (timed by itself, Measured).
  void Untimed() { timing_ = false; }
  /// A verified packet arrived: the reply to what was sent last, when one was being timed.
  void Replied();
  /// A round trip measured elsewhere (a packet of a window and its acknowledgement).
  void Measured(std::chrono::steady_clock::duration roundTrip);
  /// Forgets the measurement: ReplyTimeout gives MaxMs again.
  void Reset();
  /// The wait for a reply, never below MinMs nor above MaxMs; MaxMs until a round trip was
  /// measured. It is the smoothed round trip plus four times its deviation, and at least
  /// twice the slowest round trip of the session: a machine that once answered that late
  /// (a loaded one) may do so again, and a wait cut shorter only repeats packets needlessly.
  int ReplyTimeout(int minMs, int maxMs) const;

 private:
  void Sample(double us);

  std::chrono::steady_clock::time_point sent_at_{};
  bool timing_ = false;
  bool measured_ = false;
  double smoothed_us_ = 0;
  double deviation_us_ = 0;
  double slowest_us_ = 0;
};

}  // namespace vxkermit

}  // namespace vxcomm
