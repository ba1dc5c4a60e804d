/// @file
/// Enumeration of the serial ports present on this machine into an I/O component's list, and
/// the notices that tell when that list may have changed.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vxcomm {

struct TvxDeviceChange;
class TvxBaseIO;

/// How the serial ports are enumerated.
enum TvxEnumPorts : std::uint8_t {
  epQuickAll,    ///< the ports listed by the system, names only
  epFullInfo,    ///< the ports listed and the device database's serial devices, with details
  epFullPresent  ///< as epFullInfo, with only the devices present; unmatched ports left out
};

/// Fills IO's device list (without clearing it first) in ascending port number.
VXCOMM_EXPORT void vxEnumSerialDevices(TvxBaseIO& io, TvxEnumPorts mode);

/// A subscription to the port changes, made by vxSubscribePortChanges and owned by the subscriber.
///
/// Port changes: a tty device added or removed (udev's monitor, where libudev is there) and a COM
/// number mapped, remapped or unmapped in the configuration store. Each comes as the device-change
/// notice that an I/O component's HandleDeviceChange takes: Arrival for a port that came or was
/// remapped, RemoveComplete for one that went, both naming a port.
///
/// The watch runs while at least one subscription exists. Thread: main thread (its event loop
/// delivers the notices); subscriptions are made and ended there.
class VXCOMM_EXPORT TvxPortChangeSubscription {
 public:
  TvxPortChangeSubscription(const TvxPortChangeSubscription&) = delete;
  TvxPortChangeSubscription& operator=(const TvxPortChangeSubscription&) = delete;
  /// Ends the notices to this subscriber; the last one ends the watch.
  ~TvxPortChangeSubscription();

 private:
  friend std::unique_ptr<TvxPortChangeSubscription> vxSubscribePortChanges(
      std::function<void(const TvxDeviceChange&)> handler);
  TvxPortChangeSubscription() = default;
};

/// Calls Handler with every port change until the subscription is destroyed. A handler may
/// end any subscription, its own included.
VXCOMM_EXPORT std::unique_ptr<TvxPortChangeSubscription> vxSubscribePortChanges(
    std::function<void(const TvxDeviceChange&)> handler);
/// True while the watch runs and udev feeds it (false without libudev: then only the port
/// map is watched).
VXCOMM_EXPORT bool vxPortChangesFromUdev();

}  // namespace vxcomm
