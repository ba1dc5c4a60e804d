/// @file
/// COM port numbers mapped to device paths in the configuration store.
///
/// A user, a test or a virtual port pair gives a device a COM number by writing
/// "PortMap/COM<n>=<device path>" into the store's user scope (the system scope is read
/// too, the user scope wins). Without a mapping COMn is /dev/ttyS(n-1).
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <map>
#include <string>

namespace vxcomm {

/// Every mapped port: number to device path.
VXCOMM_EXPORT std::map<int, std::string> vxReadPortMap();
/// Maps COM<Number> to Path in the user scope (an empty path removes the mapping).
VXCOMM_EXPORT void vxWritePortMapping(int number, const std::string& path);
/// The device path for a port name: COMn resolved through the map or to /dev/ttyS(n-1), a
/// kernel name such as ttyUSB0 to /dev/ttyUSB0, a path (absolute, or relative to the working
/// directory: any name with a '/') kept as it is, a name that /dev/serial/by-id lists to its
/// link there. Empty when the name is none of these.
VXCOMM_EXPORT std::string vxResolvePortName(const std::string& name);

}  // namespace vxcomm
