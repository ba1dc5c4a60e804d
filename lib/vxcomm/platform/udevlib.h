// libudev, loaded by name at run time: the program runs without it, with fewer details
// about its ports and no hot-plug notices.
//
// The handles are opaque; only the functions the enumeration and the monitor use are
// resolved. Thread: loaded once, on first use, by any thread (a function-local static);
// udev objects themselves are used by one thread at a time.
#pragma once

struct udev;
struct udev_device;
struct udev_enumerate;
struct udev_hwdb;
struct udev_list_entry;
struct udev_monitor;

namespace vxcomm {

struct TvxUdevApi {
  udev* (*new_)();
  udev* (*unref)(udev*);
  udev_device* (*device_new_from_syspath)(udev*, const char*);
  udev_device* (*device_unref)(udev_device*);
  udev_device* (*device_get_parent)(udev_device*);
  const char* (*device_get_property_value)(udev_device*, const char*);
  const char* (*device_get_sysattr_value)(udev_device*, const char*);
  const char* (*device_get_driver)(udev_device*);
  const char* (*device_get_syspath)(udev_device*);
  const char* (*device_get_devpath)(udev_device*);
  const char* (*device_get_subsystem)(udev_device*);
  const char* (*device_get_action)(udev_device*);
  udev_list_entry* (*device_get_devlinks_list_entry)(udev_device*);
  udev_list_entry* (*list_entry_get_next)(udev_list_entry*);
  const char* (*list_entry_get_name)(udev_list_entry*);
  const char* (*list_entry_get_value)(udev_list_entry*);
  udev_enumerate* (*enumerate_new)(udev*);
  udev_enumerate* (*enumerate_unref)(udev_enumerate*);
  int (*enumerate_add_match_parent)(udev_enumerate*, udev_device*);
  int (*enumerate_scan_devices)(udev_enumerate*);
  udev_list_entry* (*enumerate_get_list_entry)(udev_enumerate*);
  udev_hwdb* (*hwdb_new)(udev*);
  udev_hwdb* (*hwdb_unref)(udev_hwdb*);
  udev_list_entry* (*hwdb_get_properties_list_entry)(udev_hwdb*, const char*, unsigned);
  udev_monitor* (*monitor_new_from_netlink)(udev*, const char*);
  udev_monitor* (*monitor_unref)(udev_monitor*);
  int (*monitor_filter_add_match_subsystem_devtype)(udev_monitor*, const char*, const char*);
  int (*monitor_enable_receiving)(udev_monitor*);
  int (*monitor_get_fd)(udev_monitor*);
  udev_device* (*monitor_receive_device)(udev_monitor*);
};

// The resolved library, or nullptr when "libudev.so.1" or one of its functions is missing.
// The library stays loaded until the program ends.
const TvxUdevApi* vxLoadUdev();

}  // namespace vxcomm
