/// @file
/// Port events on the main thread: the main thread's event loop watches the device's
/// descriptors and each event is handled where the loop wakes (ProcessCommEvent), with no
/// port thread and no hand-over between threads.
///
/// Thread: main thread only. The component owns the watcher; one stopped from inside its
/// own event is kept by the component until that event has returned.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QSocketNotifier>
#include <memory>

namespace vxcomm {

class TvxCustomComm;
class TvxSerialDevice;

/// The watch of an open port's descriptors by the main thread's event loop (see the file
/// description).
class VXCOMM_EXPORT TCommWatcher {
 public:
  /// Device is the component's open device; it outlives the watch (Stop ends the watch).
  TCommWatcher(TvxCustomComm* comm, TvxSerialDevice& device);
  TCommWatcher(const TCommWatcher&) = delete;
  TCommWatcher& operator=(const TCommWatcher&) = delete;

  /// Ends delivery; an event being handled finishes.
  void Stop();
  /// True while an event is being handled.
  bool InEvent() const { return in_event_; }

 private:
  /// Source is the notifier that fired.
  void Activated(QSocketNotifier* source);

  TvxCustomComm* const comm_;
  TvxSerialDevice* device_;                 ///< null once stopped
  std::unique_ptr<QSocketNotifier> input_;  ///< null where the device has no input descriptor
  QSocketNotifier wake_;
  bool wake_held_ = false;  ///< the wake descriptor fired during an event: on again after it
  bool in_event_ = false;
};

}  // namespace vxcomm
