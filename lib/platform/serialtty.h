// The serial layer's device for a real terminal device (a UART, a USB adapter, a
// pseudo-terminal): termios2 and the tty ioctls behind TvxSerialDevice.
#pragma once

#include <memory>
#include <string>

#include "platform/serialdevice.h"

// Opens Path exclusively (TIOCEXCL and an advisory lock), raw at 9600 8N1. Null, with
// Error set, when it cannot: ENOTTY for a path that is no terminal, EBUSY when another
// open holds it.
std::shared_ptr<TvxSerialDevice> vxOpenTtyDevice(const std::string& path, int& error);
