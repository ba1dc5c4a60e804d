// Enumeration of the serial ports present on this machine into an I/O component's list.
#pragma once

#include <cstdint>

class TvxBaseIO;

enum TvxEnumPorts : std::uint8_t { epQuickAll, epFullInfo, epFullPresent };

// Fills IO's device list (without clearing it first) in ascending port number.
void vxEnumSerialDevices(TvxBaseIO& io, TvxEnumPorts mode);
