// How our programs tell the user that their device went away while open: the serial
// component reports it (ReportDeviceLoss) as fatal error 1 with the system error code as
// its detail, the only fatal error of the port with a detail.
//
// Thread: any; a pure function.
#pragma once

#include <string>

// True when a fatal error of the serial component with this Detail is the report of a
// device that went away.
inline bool IsDeviceLoss(unsigned detail) {
  return detail != 0;
}

// "DEVICE went away: REASON", REASON the system's text for Code.
std::string DeviceLostText(const std::string& device, unsigned code);
