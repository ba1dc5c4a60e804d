// What udev knows about one serial port: the names of its hardware database preferred over
// the raw ones the device reports, its driver, its stable link and its place in the tree.
// Thread: the caller's; each call opens and closes its own udev context.
#pragma once

#include <string>

namespace vxcomm {

struct TvxUdevPortInfo {
  bool Known = false;        // udev is loaded and knows the device
  std::string Description;   // e.g. "CH340 serial converter"
  std::string Manufacturer;  // e.g. "QinHeng Electronics"
  std::string Driver;        // e.g. ch341-uart
  std::string SymbolicName;  // the /dev/serial/by-id link, when there is one
  std::string InstanceId;    // devpath of the hardware the port belongs to
  std::string BusRelations;  // syspaths of that hardware's children, each ended by a NUL,
                             // and a final NUL
};

// The information for the tty whose sysfs directory is SysPath.
TvxUdevPortInfo vxUdevPortInfo(const std::string& sysPath);

}  // namespace vxcomm
