// The kernel's serial ports as sysfs shows them: every /sys/class/tty entry with a device
// behind it, its driver, and whether a UART answers at it.
//
// The 8250 driver registers a fixed number of ttyS placeholders whether or not a UART is
// there; those whose UART type is unknown are listed with Present false.
// Thread: any; reads the file system only.
#pragma once

#include <string>
#include <vector>

namespace vxcomm {

struct TvxKernelPort {
  std::string Name;     // ttyS0, ttyUSB0, ...
  std::string DevNode;  // /dev/ttyS0
  std::string SysPath;  // the tty's sysfs directory with links resolved
  std::string Driver;   // the driver of the device behind the tty, e.g. serial8250
  bool Present = true;
};

// Every serial port below ClassDir (normally /sys/class/tty), sorted by name (natural order
// of the trailing number). DevDir is where the device nodes live.
std::vector<TvxKernelPort> vxListKernelPorts(const std::string& classDir = "/sys/class/tty",
                                             const std::string& devDir = "/dev");

}  // namespace vxcomm
