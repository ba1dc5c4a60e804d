// The serial layer's device: what a port (a real terminal device, or a test's virtual one)
// offers the serial component. Every operation returns 0 or an errno value.
//
// Thread: a device is shared by the component's threads (main, event, message thread).
// Each operation is safe to call from any of them; one WaitEvent, one Read and one
// synchronous Write at a time.
#pragma once

#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/serialtypes.h"

class TvxSerialDevice {
 public:
  TvxSerialDevice() = default;
  TvxSerialDevice(const TvxSerialDevice&) = delete;
  TvxSerialDevice& operator=(const TvxSerialDevice&) = delete;
  virtual ~TvxSerialDevice() = default;

  // Applies the control block to the line. EINVAL for a speed or framing the line lacks.
  virtual int SetState(const TDCB& dcb) = 0;
  // The control block as the line now runs it.
  virtual int GetState(TDCB& dcb) = 0;
  // Reads up to Count bytes as the time-out record allows (all zero: until Count bytes
  // arrived). Done gets the number read. A purge of the input releases it early.
  virtual int Read(void* buffer, std::uint32_t count, std::uint32_t& done) = 0;
  // Writes Len bytes. With Wait, returns once they are out or the write time-out cut them
  // short (ETIMEDOUT); without, the bytes are copied and go out in order behind earlier ones.
  virtual int Write(const void* buffer, std::uint32_t len, bool wait) = 0;
  // Returns and clears the line-error flags (CE_*) and fills Stat.
  virtual int ClearError(std::uint32_t& errors, TCOMSTAT& stat) = 0;
  // Sets the event mask; a pending WaitEvent returns with mask 0.
  virtual int SetMask(std::uint32_t mask) = 0;
  // Blocks until an event of the mask happens (Mask gets them), or the mask is set again
  // or Release is called (Mask gets 0). EIO when the device went away.
  virtual int WaitEvent(std::uint32_t& mask) = 0;
  // Ends the pending WaitEvent with mask 0, or the next one when none is pending.
  virtual void Release() = 0;
  // For a caller that waits in its own event loop instead of in WaitEvent: Input turns
  // readable with received bytes, Wake when anything else may have happened. -1 for both
  // when the device has none.
  virtual TvxEventFds EventFds() const { return {}; }
  // WaitEvent without the wait: Mask gets 0 when nothing happened. Only with EventFds.
  virtual int PollEvent(std::uint32_t& mask) {
    mask = 0;
    return ENOSYS;
  }
  // True while input already reported is still queued. The input descriptor stays readable
  // then: the caller stops watching it until Wake fires (a read took the bytes), and looks
  // for growth at intervals meanwhile.
  virtual bool InputReportedUnread() { return false; }
  // MS_* bits; 0 where the line has no modem lines.
  virtual int ModemStatus(std::uint32_t& status) = 0;
  // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK.
  virtual int Escape(int function) = 0;
  // PURGE_* flags; aborts release pending reads or writes.
  virtual int Purge(std::uint32_t flags) = 0;
  // True when the driver switches RTS for RS-485 itself (set by an RTS-toggle block).
  virtual bool KernelRS485() const { return false; }
  // Releases every wait and stops the device's own threads; later calls fail with EBADF.
  virtual void Close() = 0;

  void SetTimeouts(const TCOMMTIMEOUTS& timeouts) {
    std::lock_guard lock(timeouts_mutex_);
    timeouts_ = timeouts;
  }
  TCOMMTIMEOUTS Timeouts() const {
    std::lock_guard lock(timeouts_mutex_);
    return timeouts_;
  }

 private:
  mutable std::mutex timeouts_mutex_;
  TCOMMTIMEOUTS timeouts_;
};
