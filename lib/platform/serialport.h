// The serial layer as the serial component calls it: ports opened by name into handles,
// and one call per operation that keeps the system's error for the caller (like the
// thread's last error). A handle stays valid until vxSerialClose; a call on a closed
// handle fails with EBADF, so a thread still holding one never touches a freed device.
//
// Tests register virtual devices under a name and can make open, write or the event wait
// fail on purpose (vxSerialFaults).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/serialdevice.h"
#include "vxclasses/types.h"

// Makes a device for an open of a registered name; sets Error and returns null to refuse.
using TvxSerialFactory = std::function<std::shared_ptr<TvxSerialDevice>(int& error)>;

// Registers (or, with an empty factory, removes) a virtual device under Name, for example
// "/virtual/nullmodem-A". Opens of that name, or of a COM name mapped to it, use it.
void vxRegisterSerialDevice(const std::string& name, TvxSerialFactory factory);

// Errors a test wants the next calls to give: 0 for none. Each is taken by one call.
struct TvxSerialFaults {
  std::atomic<int> openError{0};
  std::atomic<int> writeError{0};
  std::atomic<int> waitError{0};
};
TvxSerialFaults& vxSerialFaults();

// The error of the calling thread's last failed call (an errno value).
int vxSerialLastError();
// The system's text for Error; a refused permission also names the group that owns Path.
std::string vxSerialErrorText(int error, const std::string& path);

// Opens a port by name ("COM3", "\\?\COM3", "/dev/ttyUSB0", a registered name): exclusive,
// raw, 9600 8N1. INVALID_HANDLE_VALUE on failure.
THandle vxSerialOpen(const std::string& name);
void vxSerialClose(THandle handle);
// The device behind Handle, or null (and EBADF) when it is not open.
std::shared_ptr<TvxSerialDevice> vxSerialDevice(THandle handle);
// The path an open of Name uses (after COM names are resolved), for messages.
std::string vxSerialPath(const std::string& name);

bool vxSetCommState(THandle handle, const TDCB& dcb);
bool vxGetCommState(THandle handle, TDCB& dcb);
bool vxSetCommTimeouts(THandle handle, const TCOMMTIMEOUTS& timeouts);
bool vxGetCommTimeouts(THandle handle, TCOMMTIMEOUTS& timeouts);
bool vxReadComm(THandle handle, void* buffer, std::uint32_t count, std::uint32_t* done = nullptr);
bool vxWriteComm(THandle handle, const void* buffer, std::uint32_t len, bool wait);
bool vxClearCommError(THandle handle, std::uint32_t& errors, TCOMSTAT* stat);
bool vxSetCommMask(THandle handle, std::uint32_t mask);
bool vxWaitCommEvent(THandle handle, std::uint32_t& mask);
void vxReleaseCommWait(THandle handle);
// The descriptors an event loop watches for the port's events; -1 when it has none.
TvxEventFds vxCommEventFds(THandle handle);
// vxWaitCommEvent that returns at once, Mask 0 when nothing happened.
bool vxPollCommEvent(THandle handle, std::uint32_t& mask);
// True while reported input is still queued: the input descriptor is not to be watched.
bool vxCommInputReportedUnread(THandle handle);
bool vxGetCommModemStatus(THandle handle, std::uint32_t& status);
bool vxEscapeCommFunction(THandle handle, int function);
bool vxPurgeComm(THandle handle, std::uint32_t flags);
bool vxKernelRS485(THandle handle);
