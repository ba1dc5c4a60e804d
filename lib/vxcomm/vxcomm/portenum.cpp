#include "vxcomm/vxcomm/portenum.h"

#include <algorithm>
#include <vector>

#include "vxcomm/platform/portmapmonitor.h"
#include "vxcomm/platform/udevmonitor.h"
#include "vxcomm/vxclasses/baseio.h"
#include "vxcomm/vxcomm/portdatabase.h"

namespace vxcomm {

void vxEnumSerialDevices(TvxBaseIO& io, TvxEnumPorts mode) {
  TvxSystemPortDatabase database;
  vxEnumSerialDevicesFrom(io, mode, database);
}

namespace {
// The watch and its subscribers. Main thread only.
struct PortWatch {
  std::unique_ptr<TvxUdevMonitor> udev;
  std::unique_ptr<TvxPortMapMonitor> map;
  std::vector<
      std::pair<const TvxPortChangeSubscription*, std::function<void(const TvxDeviceChange&)>>>
      subscribers;
  int broadcasting = 0;  // notices being handed out (nested when a handler runs the loop)
};

PortWatch& Watch() {
  static PortWatch watch;
  return watch;
}

void Broadcast(TvxDeviceChange::Event event) {
  TvxDeviceChange change;
  change.event = event;
  change.isPort = true;
  // A handler may end subscriptions (its own, or the last one and with it the watch that
  // is calling): each remaining subscriber is looked up again before its call.
  std::vector<const TvxPortChangeSubscription*> order;
  for (const auto& [subscription, handler] : Watch().subscribers) order.push_back(subscription);
  ++Watch().broadcasting;
  for (const TvxPortChangeSubscription* subscription : order) {
    auto& subscribers = Watch().subscribers;
    auto it = std::find_if(subscribers.begin(), subscribers.end(),
                           [&](const auto& s) { return s.first == subscription; });
    if (it == subscribers.end()) continue;
    auto handler = it->second;
    try {
      handler(change);
    } catch (...) {
      // A notice is no call of the handler's caller: nothing may leave into the event loop.
    }
  }
  --Watch().broadcasting;
}

void StartWatch() {
  PortWatch& watch = Watch();
  watch.udev = std::make_unique<TvxUdevMonitor>();
  watch.udev->OnPortChange = [](bool arrived, const std::string&) {
    Broadcast(arrived ? TvxDeviceChange::Arrival : TvxDeviceChange::RemoveComplete);
  };
  watch.map = std::make_unique<TvxPortMapMonitor>();
  watch.map->OnMapChange = [](const std::vector<int>& mapped, const std::vector<int>&) {
    Broadcast(mapped.empty() ? TvxDeviceChange::RemoveComplete : TvxDeviceChange::Arrival);
  };
}
}  // namespace

TvxPortChangeSubscription::~TvxPortChangeSubscription() {
  PortWatch& watch = Watch();
  std::erase_if(watch.subscribers, [this](const auto& s) { return s.first == this; });
  if (!watch.subscribers.empty()) return;
  if (watch.broadcasting == 0) {
    watch.udev.reset();
    watch.map.reset();
    return;
  }
  // A handler ended the last subscription: the monitor that is calling it goes once the
  // current event is over.
  if (watch.udev) watch.udev.release()->deleteLater();
  if (watch.map) watch.map.release()->deleteLater();
}

std::unique_ptr<TvxPortChangeSubscription> vxSubscribePortChanges(
    std::function<void(const TvxDeviceChange&)> handler) {
  std::unique_ptr<TvxPortChangeSubscription> subscription(new TvxPortChangeSubscription);
  PortWatch& watch = Watch();
  if (watch.subscribers.empty()) StartWatch();
  watch.subscribers.emplace_back(subscription.get(), std::move(handler));
  return subscription;
}

bool vxPortChangesFromUdev() {
  return Watch().udev && Watch().udev->IsActive();
}

}  // namespace vxcomm
