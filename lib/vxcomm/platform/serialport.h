// Opening a serial port by name: COM names resolved through the port map, kernel names and
// paths of terminal devices, and virtual devices that tests register under a name.
//
// Thread: any.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vxcomm/platform/serialdevice.h"

namespace vxcomm {

// Makes a device for an open of a registered name; returns the error that refuses it.
using TvxSerialFactory = std::function<TvxSerialOpen()>;

// Registers (or, with an empty factory, removes) a virtual device under Name, for example
// "/virtual/nullmodem-A". Opens of that name, or of a COM name mapped to it, use it.
void vxRegisterSerialDevice(const std::string& name, TvxSerialFactory factory);

// Opens a port by name ("COM3", "ttyUSB0", "/dev/ttyUSB0", a registered name, a network port
// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" as serialnet.h opens it): exclusive,
// raw, 9600 8N1, its input empty of what the line held from before. The error's text is the
// system's, and for a refused permission also names the group that owns the device; ENOENT for a
// name that is no port name at all.
TvxSerialOpen vxOpenSerialPort(const std::string& name);
// The path an open of Name uses (after COM names are resolved), for messages.
std::string vxSerialPath(const std::string& name);
// The system's text for Error; a refused permission also names the group to join when the
// group that owns Path may read and write it, else the owner who alone may.
std::string vxSerialErrorText(int error, const std::string& path);

}  // namespace vxcomm
