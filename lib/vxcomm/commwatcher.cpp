#include "vxcomm/commwatcher.h"

#include <cerrno>

#include "platform/serialport.h"
#include "vxcomm.h"

TCommWatcher::TCommWatcher(TvxCustomComm* comm, THandle portHandle, int eventFd)
    : comm_(comm), port_handle_(portHandle), notifier_(eventFd, QSocketNotifier::Read) {
  // Input queued before the watch began shows too: setting the event mask at the open
  // leaves the descriptor readable.
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Activated(); });
}

void TCommWatcher::Stop() {
  stopped_ = true;
  notifier_.setEnabled(false);
}

void TCommWatcher::Activated() {
  if (in_event_) {
    // A handler waits and runs the event loop: the next event waits until this one ends.
    // (Switching the notifier for every event would cost the loop a wake-up each time.)
    notifier_.setEnabled(false);
    return;
  }
  in_event_ = true;
  std::uint32_t mask = 0;
  if (!vxPollCommEvent(port_handle_, mask)) {
    const int error = vxSerialLastError();
    // EBADF: closed under the watch. Anything else but a refused query means the device
    // went away, and the port closes as it does under the event thread.
    if (error != EBADF && error != EINVAL) comm_->InternalClose(false);
  } else if (mask) {
    comm_->ProcessCommEvent({vxCommMsgComEvent(), mask, 0});
  }
  in_event_ = false;
  if (!stopped_ && !notifier_.isEnabled()) notifier_.setEnabled(true);
}
