#include "vxcomm/platform/udevlib.h"

#include <dlfcn.h>

namespace vxcomm {

namespace {

template <typename Fn>
bool Resolve(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  return fn != nullptr;
}

const TvxUdevApi* Load() {
  void* library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static TvxUdevApi api;
  bool ok =
      Resolve(library, "udev_new", api.new_) && Resolve(library, "udev_unref", api.unref) &&
      Resolve(library, "udev_device_new_from_syspath", api.device_new_from_syspath) &&
      Resolve(library, "udev_device_unref", api.device_unref) &&
      Resolve(library, "udev_device_get_parent", api.device_get_parent) &&
      Resolve(library, "udev_device_get_property_value", api.device_get_property_value) &&
      Resolve(library, "udev_device_get_sysattr_value", api.device_get_sysattr_value) &&
      Resolve(library, "udev_device_get_driver", api.device_get_driver) &&
      Resolve(library, "udev_device_get_syspath", api.device_get_syspath) &&
      Resolve(library, "udev_device_get_devpath", api.device_get_devpath) &&
      Resolve(library, "udev_device_get_subsystem", api.device_get_subsystem) &&
      Resolve(library, "udev_device_get_action", api.device_get_action) &&
      Resolve(library, "udev_device_get_devlinks_list_entry", api.device_get_devlinks_list_entry) &&
      Resolve(library, "udev_list_entry_get_next", api.list_entry_get_next) &&
      Resolve(library, "udev_list_entry_get_name", api.list_entry_get_name) &&
      Resolve(library, "udev_list_entry_get_value", api.list_entry_get_value) &&
      Resolve(library, "udev_enumerate_new", api.enumerate_new) &&
      Resolve(library, "udev_enumerate_unref", api.enumerate_unref) &&
      Resolve(library, "udev_enumerate_add_match_parent", api.enumerate_add_match_parent) &&
      Resolve(library, "udev_enumerate_scan_devices", api.enumerate_scan_devices) &&
      Resolve(library, "udev_enumerate_get_list_entry", api.enumerate_get_list_entry) &&
      Resolve(library, "udev_hwdb_new", api.hwdb_new) &&
      Resolve(library, "udev_hwdb_unref", api.hwdb_unref) &&
      Resolve(library, "udev_hwdb_get_properties_list_entry", api.hwdb_get_properties_list_entry) &&
      Resolve(library, "udev_monitor_new_from_netlink", api.monitor_new_from_netlink) &&
      Resolve(library, "udev_monitor_unref", api.monitor_unref) &&
      Resolve(library, "udev_monitor_filter_add_match_subsystem_devtype",
              api.monitor_filter_add_match_subsystem_devtype) &&
      Resolve(library, "udev_monitor_enable_receiving", api.monitor_enable_receiving) &&
      Resolve(library, "udev_monitor_get_fd", api.monitor_get_fd) &&
      Resolve(library, "udev_monitor_receive_device", api.monitor_receive_device);
  if (ok) return &api;
  dlclose(library);
  return nullptr;
}

}  // namespace

const TvxUdevApi* vxLoadUdev() {
  static const TvxUdevApi* api = Load();
  return api;
}

}  // namespace vxcomm
