// Port events on the main thread without port threads: the main thread's event loop
// watches the port's descriptors and each event is handled where the loop wakes, which
// saves the two thread switches of the port threads' hand-over on every event.
//
// Thread: main thread only. The component owns the watcher; one stopped from inside its
// own event is kept by the component until that event has returned.
#pragma once

#include <QSocketNotifier>
#include <QTimer>

#include "platform/serialtypes.h"
#include "vxclasses/types.h"

class TvxCustomComm;

class TCommWatcher {
 public:
  TCommWatcher(TvxCustomComm* comm, THandle portHandle, TvxEventFds fds);
  TCommWatcher(const TCommWatcher&) = delete;
  TCommWatcher& operator=(const TCommWatcher&) = delete;

  // Ends delivery; an event being handled finishes.
  void Stop();
  bool InEvent() const { return in_event_; }

 private:
  // Source is the notifier that fired, or null for the look-again timer.
  void Activated(QSocketNotifier* source);
  void HandleEvent();

  TvxCustomComm* const comm_;
  const THandle port_handle_;
  QSocketNotifier input_;
  QSocketNotifier wake_;
  // While reported input sits unread the input descriptor stays readable and is not
  // watched; more input beside it is looked for at this timer's intervals.
  QTimer look_again_;
  bool wake_held_ = false;  // the wake descriptor fired during an event: on again after it
  bool in_event_ = false;
  bool stopped_ = false;
};
