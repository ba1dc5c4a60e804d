#include "vxcomm/commwatcher.h"

#include <cerrno>

#include "platform/serialport.h"
#include "vxcomm.h"

TCommWatcher::TCommWatcher(TvxCustomComm* comm, THandle portHandle, TvxEventFds fds)
    : comm_(comm),
      port_handle_(portHandle),
      input_(fds.input, QSocketNotifier::Read),
      wake_(fds.wake, QSocketNotifier::Read) {
  // Input queued before the watch began shows too: the input descriptor is readable.
  QObject::connect(&input_, &QSocketNotifier::activated, [this] { Activated(&input_); });
  QObject::connect(&wake_, &QSocketNotifier::activated, [this] { Activated(&wake_); });
  look_again_.setInterval(10);
  QObject::connect(&look_again_, &QTimer::timeout, [this] { Activated(nullptr); });
}

void TCommWatcher::Stop() {
  stopped_ = true;
  input_.setEnabled(false);
  wake_.setEnabled(false);
  look_again_.stop();
}

void TCommWatcher::Activated(QSocketNotifier* source) {
  if (in_event_) {
    // A handler waits and runs the event loop: the next event waits until this one ends.
    // (Switching a notifier for every event would cost the loop a wake-up each time.)
    // The input notifier comes back on with the look at the end of the event.
    if (source) source->setEnabled(false);
    if (source == &wake_) wake_held_ = true;
    return;
  }
  in_event_ = true;
  HandleEvent();
  in_event_ = false;
  if (stopped_) return;
  if (wake_held_) wake_.setEnabled(true);
  wake_held_ = false;
  const bool watch_input = !vxCommInputReportedUnread(port_handle_);
  if (input_.isEnabled() != watch_input) input_.setEnabled(watch_input);
  if (watch_input)
    look_again_.stop();
  else if (!look_again_.isActive())
    look_again_.start();
}

void TCommWatcher::HandleEvent() {
  std::uint32_t mask = 0;
  if (!vxPollCommEvent(port_handle_, mask)) {
    const int error = vxSerialLastError();
    // EBADF: closed under the watch. Anything else but a refused query means the device
    // went away, and the port closes as it does under the event thread.
    if (error != EBADF && error != EINVAL) comm_->InternalClose(false);
  } else if (mask) {
    comm_->ProcessCommEvent({vxCommMsgComEvent(), mask, 0});
  }
}
