#include "vxcomm/platform/udevmonitor.h"

#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <vector>

#include "vxcomm/platform/udevlib.h"

namespace vxcomm {

TvxUdevMonitor::TvxUdevMonitor(QObject* parent) : QObject(parent) {
  const TvxUdevApi* api = vxLoadUdev();
  if (!api || !(udev_ = api->new_())) return;
  const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  monitor_ = api->monitor_new_from_netlink(udev_, source);
  if (monitor_ && api->monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) >= 0 &&
      api->monitor_enable_receiving(monitor_) >= 0) {
    notifier_ = new QSocketNotifier(api->monitor_get_fd(monitor_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TvxUdevMonitor::Receive);
    return;
  }
  if (monitor_) api->monitor_unref(monitor_);
  monitor_ = nullptr;
}

TvxUdevMonitor::~TvxUdevMonitor() {
  const TvxUdevApi* api = vxLoadUdev();
  delete notifier_;  // before the descriptor it watches goes
  if (monitor_) api->monitor_unref(monitor_);
  if (udev_) api->unref(udev_);
}

void TvxUdevMonitor::Receive() {
  const TvxUdevApi* api = vxLoadUdev();
  // The socket is non-blocking: take every queued event, then report, as a handler may end
  // this monitor.
  std::vector<std::pair<bool, std::string>> changes;
  while (udev_device* device = api->monitor_receive_device(monitor_)) {
    const char* action = api->device_get_action(device);
    std::string what = action ? action : "";
    const char* node = api->device_get_property_value(device, "DEVNAME");
    if (what == "add" || what == "remove") changes.emplace_back(what == "add", node ? node : "");
    api->device_unref(device);
  }
  QPointer<TvxUdevMonitor> alive(this);
  for (const auto& [arrived, node] : changes)
    if (alive && OnPortChange) OnPortChange(arrived, node);
}

}  // namespace vxcomm
