// Port events on the main thread without port threads: the main thread's event loop
// watches the port's event descriptor and each event is handled where the loop wakes,
// which saves the two thread switches of the port threads' hand-over on every event.
//
// Thread: main thread only. The component owns the watcher; one stopped from inside its
// own event is kept by the component until that event has returned.
#pragma once

#include <QSocketNotifier>

#include "vxclasses/types.h"

class TvxCustomComm;

class TCommWatcher {
 public:
  TCommWatcher(TvxCustomComm* comm, THandle portHandle, int eventFd);
  TCommWatcher(const TCommWatcher&) = delete;
  TCommWatcher& operator=(const TCommWatcher&) = delete;

  // Ends delivery; an event being handled finishes.
  void Stop();
  bool InEvent() const { return in_event_; }

 private:
  void Activated();

  TvxCustomComm* const comm_;
  const THandle port_handle_;
  QSocketNotifier notifier_;
  bool in_event_ = false;
  bool stopped_ = false;
};
