// How our programs tell the user that their device went away while open: the serial
// component says so (DeviceLost) and reports it (ReportDeviceLoss) as a fatal error with the
// system error code as its detail.
//
// Thread: any; a pure function.
#pragma once

#include <string>

// "DEVICE went away: REASON", REASON the system's text for Code.
std::string DeviceLostText(const std::string& device, unsigned code);
