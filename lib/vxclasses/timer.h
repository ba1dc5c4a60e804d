// The one-shot-capable timer every processor owns, on a Qt timer.
//
// Thread: ticks are delivered on the thread that created the timer, through its event
// loop. Enabled and Interval may be set from any thread; the change is carried out on the
// timer's own thread.
#pragma once

#include "vxcomm_export.h"

#include <atomic>
#include <memory>

#include "vxclasses/types.h"

class QTimer;

class VXCOMM_EXPORT TvxTimer : public TObject {
 public:
  TvxTimer();
  ~TvxTimer() override;
  TvxTimer(const TvxTimer&) = delete;
  TvxTimer& operator=(const TvxTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Writing the interval does not re-arm a running timer.
  Cardinal Interval() const { return interval_; }
  void SetInterval(Cardinal value) { interval_ = value; }
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(TNotifyEvent value);

 protected:
  // One tick: calls OnTimer while Enabled.
  virtual void Timer();

 private:
  void UpdateTimer();
  void Tick();

  std::unique_ptr<QTimer> timer_;
  std::atomic<bool> enabled_{true};
  std::atomic<Cardinal> interval_{1000};
  TNotifyEvent on_timer_;
};
