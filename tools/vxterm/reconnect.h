// The device's names and the wait for a device that went away: DEVICE as the user gave it,
// the name to wait for (its /dev/serial/by-id link where it has one, which follows the
// adapter when it comes back under another tty number), and a watcher that calls back
// whenever the device may be there again.
//
// Thread: the main thread (the hot-plug notices and the timer run on its event loop).
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include "vxcomm/unqualified.h"

namespace vxcomm {
class TvxPortChangeSubscription;
}  // namespace vxcomm

// The device Arg names: a path, a COMn or ttyXXX name (left to the library), or a name
// under /dev/serial/by-id.
std::string ResolveDeviceArgument(const std::string& arg);

// The /dev/serial/by-id link of Path's device, else Path itself. ById is the folder searched.
std::string StableDeviceName(const std::string& path,
                             const std::string& byId = "/dev/serial/by-id");

class TReconnector {
 public:
  TReconnector();
  ~TReconnector();
  // Waits for Name (a path, or a COMn name) to be there: on each hot-plug notice, and every
  // quarter second for devices no hot-plug monitor reports (pseudo-terminals), Open is called
  // while the device exists; it returns true once it opened it, which ends the wait. A
  // network port (or a COMn mapped to one) is tried every NetRetryMs.
  static constexpr int NetRetryMs = 2000;
  void Start(const std::string& name, std::function<bool()> open);
  void Stop();
  bool Waiting() const { return waiting_; }

 private:
  void Look();

  std::string name_;
  std::function<bool()> open_;
  bool waiting_ = false;
  QElapsedTimer net_tried_;  // since the last connect to a network port, while waiting
  QTimer timer_;
  std::unique_ptr<TvxPortChangeSubscription> subscription_;
};
