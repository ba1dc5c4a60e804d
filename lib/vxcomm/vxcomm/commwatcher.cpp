#include "vxcomm/vxcomm/commwatcher.h"

#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/vxcomm.h"

namespace vxcomm {

TCommWatcher::TCommWatcher(TvxCustomComm* comm, TvxSerialDevice& device)
    : comm_(comm), device_(&device), wake_(device.EventFds().wake, QSocketNotifier::Read) {
  const int input = device.EventFds().input;
  if (input >= 0) {
    // Input queued before the watch began shows too: the descriptor is readable.
    input_ = std::make_unique<QSocketNotifier>(input, QSocketNotifier::Read);
    input_->setEnabled(device.WatchInput());
    QObject::connect(input_.get(), &QSocketNotifier::activated,
                     [this] { Activated(input_.get()); });
  }
  QObject::connect(&wake_, &QSocketNotifier::activated, [this] { Activated(&wake_); });
}

void TCommWatcher::Stop() {
  device_ = nullptr;
  if (input_) input_->setEnabled(false);
  wake_.setEnabled(false);
}

void TCommWatcher::Activated(QSocketNotifier* source) {
  if (in_event_) {
    // A handler waits and runs the event loop: the next event waits until this one ends.
    // (Switching a notifier for every event would cost the loop a wake-up each time.)
    source->setEnabled(false);
    if (source == &wake_) wake_held_ = true;
    return;
  }
  in_event_ = true;
  // A close from inside the event stops this watcher, which the component then keeps
  // until the event is over.
  if (!comm_->ProcessCommEvent() && device_) comm_->CloseOnDeviceFailure();
  in_event_ = false;
  if (!device_) return;
  if (wake_held_) wake_.setEnabled(true);
  wake_held_ = false;
  if (input_) {
    const bool watch = device_->WatchInput();
    if (input_->isEnabled() != watch) input_->setEnabled(watch);
  }
}

}  // namespace vxcomm
