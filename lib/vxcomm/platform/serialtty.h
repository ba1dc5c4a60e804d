// The serial layer's device for a real terminal device (a UART, a USB adapter, a
// pseudo-terminal): termios2 and the tty ioctls behind TvxSerialDevice, with the writer
// (serialwriter.h) and the event source (serialevents.h) of their own.
#pragma once

#include <string>

#include "vxcomm/platform/serialdevice.h"

namespace vxcomm {

// Opens Path exclusively (its UUCP lock file, TIOCEXCL and an advisory lock), raw at 9600
// 8N1. On failure the error says why: ENOTTY for a path that is no terminal, EBUSY when
// another open holds it (for a lock file of another live process, its text names that
// process). The lock file goes when the device is closed, and the settings the open found
// (speed, framing, flags) are put back then unless RestoreOnClose was cleared.
TvxSerialOpen vxOpenTtyDevice(const std::string& path);

}  // namespace vxcomm
