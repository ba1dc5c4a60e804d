/// @file
/// The serial layer's device: what a port (a real terminal device, or a test's virtual one)
/// offers the serial component, which holds the object for as long as the port is open.
///
/// Events: the caller waits on the device's descriptors (EventFds) in its own loop, the
/// main thread's event loop or a port thread, and then asks Look what happened. Look
/// answers in one step: the events of the mask, the line errors, the queue counts, and the
/// received bytes it took into the caller's buffer. Nothing is remembered between looks to
/// make a level-triggered descriptor look like an edge: input is either taken, or moved
/// into the device's own input queue (the bytes an application reads later with Read), and
/// the descriptor is not watched while that queue is full.
///
/// Errors are values (TvxSerialError): the errno value and its text.
///
/// Thread: every operation is safe from any thread. Look is called by one thread at a time;
/// Read and Look may run at once (their bytes never interleave).
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "vxcomm/platform/serialtypes.h"

namespace vxcomm {

/// An error of the serial layer: the errno value and its text, with what the layer knows
/// beside it (the process that holds a port, the group that owns a device). Code 0 is none.
struct VXCOMM_EXPORT TvxSerialError {
  int code = 0;      ///< the errno value; 0: no error
  std::string text;  ///< the system's text, with what the layer adds
  /// True when this is an error.
  explicit operator bool() const { return code != 0; }
};

/// Code with the system's text for it.
inline TvxSerialError vxSerialError(int code) {
  return code ? TvxSerialError{code, std::strerror(code)} : TvxSerialError{};
}

/// The answer of the error-and-status query: the line-error flags (CE_*), which the query clears,
/// and the port status with the queue counts.
struct VXCOMM_EXPORT TvxLineStatus {
  std::uint32_t errors = 0;      ///< CE_* flags, cleared by the query
  TCOMSTAT stat;                 ///< the port status and the queue counts
  TvxSerialError write_failure;  ///< with CE_TXFULL: why the lost write failed
};

/// What happened on the line since the last look.
struct VXCOMM_EXPORT TvxLineReport {
  std::uint32_t events = 0;      ///< EV_* bits of the mask
  std::uint32_t errors = 0;      ///< CE_* flags, cleared by the look
  TCOMSTAT stat;                 ///< the status after the look
  std::uint32_t taken = 0;       ///< received bytes put into the caller's buffer
  TvxSerialError failure;        ///< the device went away (EIO): the rest means nothing then
  TvxSerialError write_failure;  ///< with CE_TXFULL: why a write nobody waited for was lost
};

/// An open port of the serial layer (see the file description). Made by vxOpenSerialPort and shared
/// by its holders; Close ends its use.
class VXCOMM_EXPORT TvxSerialDevice {
 public:
  /// A device; descendants open the port.
  TvxSerialDevice() = default;
  TvxSerialDevice(const TvxSerialDevice&) = delete;
  TvxSerialDevice& operator=(const TvxSerialDevice&) = delete;
  /// Destroys the device; its descriptors go with it.
  virtual ~TvxSerialDevice() = default;

  /// Applies the control block to the line. EINVAL for a speed or framing the line lacks.
  virtual TvxSerialError SetState(const TDCB& dcb) = 0;
  /// The control block as the line now runs it.
  virtual TvxSerialError GetState(TDCB& dcb) = 0;
  /// The recommended queue sizes: In bounds the device's own input queue (the kernel sizes
  /// its own queues).
  virtual void SetQueueSizes(std::uint32_t in, std::uint32_t out) = 0;
  /// The events Look reports. EV_TXEMPTY in it makes the device watch the output drain.
  virtual TvxSerialError SetMask(std::uint32_t mask) = 0;

  /// The descriptors to wait on between looks: Input turns readable with received bytes
  /// (-1 where the device has none; Wake then also tells of input), Wake with anything else.
  virtual TvxEventFds EventFds() const = 0;
  /// False while the device's input queue is full: Input is not to be watched then (Wake
  /// fires once a read has made room).
  virtual bool WatchInput() = 0;
  /// Makes Wake readable, for a caller that ends its own wait.
  virtual void Wake() = 0;
  /// What happened since the last look. Buffer (Size bytes, may be null) takes the received
  /// bytes, the device's queued ones first; without it they go into the device's queue and
  /// stay for Read. EV_RXCHAR tells of bytes taken or queued by this look, EV_RXFLAG of the
  /// event character among them. With line errors no byte is taken (they are left queued
  /// and Wake fires for them). A failure (EIO: the device went away) comes once what the
  /// device left is reported.
  TvxLineReport Look(void* buffer, std::uint32_t size);
  /// The error-and-status query: the errors (cleared) and the counts, without taking events.
  virtual TvxLineStatus Status() = 0;

  /// Reads up to Count bytes as the time-out record allows (all zero: until Count bytes
  /// arrived). Done gets the number read. A purge of the input releases it early.
  virtual TvxSerialError Read(void* buffer, std::uint32_t count, std::uint32_t& done) = 0;
  /// Writes Len bytes. With Wait, returns once they are out or the write time-out cut them
  /// short (ETIMEDOUT); without, the bytes are copied and go out in order behind earlier
  /// ones. A write ends by its deadline, Len x the per-byte time-out plus the constant from
  /// its call, also while it waits behind others.
  TvxSerialError Write(const void* buffer, std::uint32_t len, bool wait);
  /// MS_* bits; 0 where the line has no modem lines.
  virtual TvxSerialError ModemStatus(std::uint32_t& status) = 0;
  /// SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK.
  virtual TvxSerialError Escape(int function) = 0;
  /// The errno of the last ModemStatus or Escape call, 0 when it worked. Unlike their own
  /// result it keeps what they pass over as "no such function" (ENOTTY: a pseudo-terminal has
  /// no modem lines). From any thread; a device that does not record it gives 0.
  int LastLineCallError() const { return last_line_call_error_.load(); }
  /// PURGE_* flags; aborts release pending reads or writes.
  virtual TvxSerialError Purge(std::uint32_t flags) = 0;
  /// True when the driver switches RTS for RS-485 itself (set by an RTS-toggle block).
  virtual bool KernelRS485() const { return false; }
  /// The RTS delays (ms) the driver keeps around a send when it switches RTS itself: taken at
  /// once while it does, else by the SetState that turns it on. Nothing where the driver has
  /// no RS-485.
  virtual void SetRS485Delays(std::uint32_t beforeMs, std::uint32_t afterMs) {
    (void)beforeMs;
    (void)afterMs;
  }
  /// Releases every wait, stops the device's own threads, puts the line's settings back as
  /// the open found them (unless RestoreOnClose was cleared) and gives up the port's lock;
  /// later calls fail with EBADF. The descriptors stay valid until the object goes.
  virtual void Close() = 0;
  /// Whether Close puts back the settings (speed, framing, flags) the line had before the
  /// open: true by default, so that the line is left as it was found. From any thread.
  bool RestoreOnClose() const { return restore_on_close_; }
  /// Sets RestoreOnClose; from any thread.
  void SetRestoreOnClose(bool value) { restore_on_close_ = value; }
  /// A number for the component's handle: the port's descriptor where it has one.
  virtual std::intptr_t Token() const = 0;

  /// Sets the time-out record that reads and writes follow; from any thread.
  void SetTimeouts(const TCOMMTIMEOUTS& timeouts) {
    std::lock_guard lock(timeouts_mutex_);
    timeouts_ = timeouts;
  }
  /// The time-out record; from any thread.
  TCOMMTIMEOUTS Timeouts() const {
    std::lock_guard lock(timeouts_mutex_);
    return timeouts_;
  }

 protected:
  /// The device's own Look (the test faults are taken by Look).
  virtual TvxLineReport DoLook(void* buffer, std::uint32_t size) = 0;
  /// The device's own Write (the test faults are taken by Write).
  virtual TvxSerialError DoWrite(const void* buffer, std::uint32_t len, bool wait) = 0;
  /// Records the errno of a ModemStatus or Escape call (0: it worked).
  void SetLastLineCallError(int error) { last_line_call_error_.store(error); }

 private:
  std::atomic<int> last_line_call_error_{0};
  mutable std::mutex timeouts_mutex_;
  TCOMMTIMEOUTS timeouts_;
  std::atomic<bool> restore_on_close_{true};
};

/// The result of opening a port: the device, or the error that refused it.
struct VXCOMM_EXPORT TvxSerialOpen {
  /// The open device, shared with the caller; null when the open failed.
  std::shared_ptr<TvxSerialDevice> device;
  /// Why the open failed; none when it did not.
  TvxSerialError error;
};

}  // namespace vxcomm
