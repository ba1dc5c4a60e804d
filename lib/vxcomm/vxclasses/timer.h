/// @file
/// The one-shot-capable timer every processor owns, on a Qt timer.
///
/// Thread: ticks are delivered on the thread that created the timer, through its event
/// loop. Enabled and Interval may be set from any thread; the change is carried out on the
/// timer's own thread.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <atomic>
#include <memory>

#include "vxcomm/vxclasses/types.h"

class QTimer;

namespace vxcomm {

/// A timer that calls OnTimer every Interval ms while Enabled (see the file description for its
/// threads). An exception of the handler is swallowed, so it never leaves the event loop.
class VXCOMM_EXPORT TvxTimer : public TObject {
 public:
  /// An enabled timer of 1000 ms without a handler, ticking on the creating thread.
  TvxTimer();
  /// Stops the timer; no tick runs after.
  ~TvxTimer() override;
  TvxTimer(const TvxTimer&) = delete;
  TvxTimer& operator=(const TvxTimer&) = delete;

  /// Whether the timer runs (it runs only with a handler and a non-zero interval).
  bool Enabled() const { return enabled_; }
  /// Starts or stops the timer; from any thread (carried out on the timer's thread).
  void SetEnabled(bool value);
  /// The interval in ms. Writing the interval does not re-arm a running timer.
  Cardinal Interval() const { return interval_; }
  /// Sets the interval, used when the timer is next started.
  void SetInterval(Cardinal value) { interval_ = value; }
  /// The handler called at each tick.
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  /// Sets the handler and (re)starts the timer as Enabled and Interval say.
  void SetOnTimer(TNotifyEvent value);

 protected:
  /// One tick: calls OnTimer while Enabled.
  virtual void Timer();

 private:
  void UpdateTimer();
  void Tick();

  std::unique_ptr<QTimer> timer_;
  std::atomic<bool> enabled_{true};
  std::atomic<Cardinal> interval_{1000};
  TNotifyEvent on_timer_;
};

}  // namespace vxcomm
