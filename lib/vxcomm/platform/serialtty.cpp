// A terminal device as the serial layer's device. Kernel quirks met here:
// - termios2 and BOTHER (arbitrary speeds) come from <asm/termbits.h>, which cannot live
//   beside glibc's <termios.h>; so the flush and line calls are ioctls, not tcflush and the
//   like, and the mapping itself is in serialtermios.cpp.
// - TIOCSRS485: a driver reverts what it cannot do, so only its read-back (TIOCGRS485) says
//   whether the kernel switches RTS; otherwise the component does.
// - USB adapters hold received bytes back for up to 16 ms unless ASYNC_LOW_LATENCY is set.
// - A vanished device (a USB adapter pulled, the far end of a pseudo-terminal closed) makes
//   reads fail with EIO (or end with 0) once what it left is read.
#include "vxcomm/platform/serialtty.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <utility>

#include "vxcomm/platform/portlock.h"
#include "vxcomm/platform/serialevents.h"
#include "vxcomm/platform/serialtermios.h"
#include "vxcomm/platform/serialwriter.h"

namespace vxcomm {

namespace {
using Clock = std::chrono::steady_clock;

// The input queue holds at least this much, whatever the recommended size.
constexpr std::uint32_t kMinInputQueue = 4096;

// Milliseconds from now until Deadline, at least 0, for poll.
int MsUntil(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, 1 << 30));
}

// Errors that mean "this driver has no such function" rather than a failure of the line.
bool Unsupported(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

void Poke(int efd) {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(efd, &one, sizeof one);
}

void Drain(int efd) {
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(efd, &value, sizeof value);
}

class TtyDevice final : public TvxSerialDevice {
 public:
  TtyDevice(int fd, std::unique_ptr<TvxPortLock> lock, const struct termios2& found)
      : fd_(fd),
        found_(found),
        lock_(std::move(lock)),
        events_(fd),
        writer_(fd, [this] { events_.Wake(); }),
        read_wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

  ~TtyDevice() override {
    Close();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    if (read_wake_ >= 0) ::close(read_wake_);
  }

  bool Valid() const { return events_.Valid() && writer_.Valid() && read_wake_ >= 0; }

  TvxSerialError SetState(const TDCB& dcb) override;
  TvxSerialError GetState(TDCB& dcb) override;
  void SetQueueSizes(std::uint32_t in, std::uint32_t) override {
    std::lock_guard lock(input_mutex_);
    const bool was_full = queue_.size() >= capacity_;
    capacity_ = std::max(in, kMinInputQueue);
    if (was_full && queue_.size() < capacity_) events_.Wake();
  }
  TvxSerialError SetMask(std::uint32_t mask) override {
    if (closed_) return vxSerialError(EBADF);
    mask_ = mask;
    writer_.WatchDrain(mask & EV_TXEMPTY);
    return {};
  }
  TvxEventFds EventFds() const override { return {fd_, events_.WakeFd()}; }
  bool WatchInput() override {
    std::lock_guard lock(input_mutex_);
    return !closed_ && queue_.size() < capacity_;
  }
  void Wake() override { events_.Wake(); }
  TvxLineStatus Status() override;
  TvxSerialError Read(void* buffer, std::uint32_t count, std::uint32_t& done) override;
  TvxSerialError ModemStatus(std::uint32_t& status) override;
  TvxSerialError Escape(int function) override;
  TvxSerialError Purge(std::uint32_t flags) override;
  bool KernelRS485() const override {
    std::lock_guard lock(state_mutex_);
    return kernel_rs485_;
  }
  void SetRS485Delays(std::uint32_t beforeMs, std::uint32_t afterMs) override {
    std::lock_guard lock(state_mutex_);
    const bool changed = beforeMs != rs485_before_ms_ || afterMs != rs485_after_ms_;
    rs485_before_ms_ = beforeMs;
    rs485_after_ms_ = afterMs;
    // The driver switching RTS already takes the new delays.
    if (changed && kernel_rs485_) ApplyRS485Locked(true);
  }
  void Close() override;
  std::intptr_t Token() const override { return fd_; }

 protected:
  TvxLineReport DoLook(void* buffer, std::uint32_t size) override;
  TvxSerialError DoWrite(const void* buffer, std::uint32_t len, bool wait) override {
    if (closed_) return vxSerialError(EBADF);
    return vxSerialError(writer_.Write(buffer, len, wait, Timeouts()));
  }

 private:
  // Moves what the line holds into the input queue, as far as it has room; the read's
  // errno (EIO for a vanished device) or 0.
  int FillQueueLocked();
  // Reads from the line into Out until it has Size bytes or the line is empty (Empty then
  // tells so).
  int ReadLineLocked(char* out, std::uint32_t size, std::uint32_t& done, bool* empty = nullptr);
  // Takes up to Size queued bytes into Out; Wake fires when that made room in a full queue.
  std::uint32_t TakeQueuedLocked(char* out, std::uint32_t size);
  // The status; with LineEmpty the kernel's input queue is known to be empty.
  TCOMSTAT StatLocked(bool lineEmpty = false) const;
  TvxSerialError ApplyRS485Locked(bool enable);
  void SetLine(int bit, bool on) { ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit); }

  const int fd_;
  const struct termios2 found_;        // the line's settings before the open, for Close
  std::unique_ptr<TvxPortLock> lock_;  // the port's lock file; released by Close
  TvxTtyEvents events_;
  TvxTtyWriter writer_;
  const int read_wake_;  // wakes a Read: input queued by a look, a purge, the close
  std::atomic<bool> closed_{false};
  std::atomic<std::uint32_t> mask_{0};
  std::atomic<char> event_char_{0};
  std::atomic<std::uint32_t> flow_flags_{0};  // the block's CTS and DSR flow bits

  // guards dcb_, dcb_applied_, kernel_rs485_ and the RS-485 delays
  mutable std::mutex state_mutex_;
  TDCB dcb_;
  bool dcb_applied_ = false;
  bool kernel_rs485_ = false;
  std::uint32_t rs485_before_ms_ = 0, rs485_after_ms_ = 0;

  mutable std::mutex input_mutex_;  // guards the queue and every read from the line
  std::string queue_;               // received bytes nobody has taken yet
  std::uint32_t capacity_ = 8192;
  std::uint64_t abort_generation_ = 0;  // bumped by a purge that aborts reads
  std::uint32_t held_events_ = 0;       // counter news a status query came across
};

TvxSerialError TtyDevice::SetState(const TDCB& dcb) {
  struct termios2 tio;
  if (ioctl(fd_, TCGETS2, &tio) != 0) return vxSerialError(errno);
  if (int error = vxTermiosFromDcb(dcb, tio)) return vxSerialError(error);
  if (ioctl(fd_, TCSETS2, &tio) != 0) return vxSerialError(errno);
  std::lock_guard lock(state_mutex_);
  // The lines follow the control fields only when those change, so that a new speed does
  // not raise a DTR or RTS the application dropped.
  const TvxLineControl lines = vxLineControlOf(dcb);
  const std::uint32_t f = dcb.Flags, before = dcb_.Flags;
  if (!dcb_applied_ || (f & dcbflag::DtrControlMask) != (before & dcbflag::DtrControlMask))
    SetLine(TIOCM_DTR, lines.dtr);
  if (!dcb_applied_ || (f & dcbflag::RtsControlMask) != (before & dcbflag::RtsControlMask)) {
    if (!lines.rtsToggle) SetLine(TIOCM_RTS, lines.rts);
    ApplyRS485Locked(lines.rtsToggle);
  }
  dcb_ = dcb;
  dcb_.DCBlength = 28;
  dcb_applied_ = true;
  event_char_ = dcb.EvtChar;
  flow_flags_ = f & (dcbflag::OutxCtsFlow | dcbflag::OutxDsrFlow);
  return {};
}

TvxSerialError TtyDevice::ApplyRS485Locked(bool enable) {
  struct serial_rs485 rs485 = {};
  if (enable) {
    rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs485.delay_rts_before_send = rs485_before_ms_;
    rs485.delay_rts_after_send = rs485_after_ms_;
  } else if (!kernel_rs485_)
    return {};
  if (ioctl(fd_, TIOCSRS485, &rs485) != 0) {
    kernel_rs485_ = false;
    return vxSerialError(errno);
  }
  struct serial_rs485 now = {};
  kernel_rs485_ = ioctl(fd_, TIOCGRS485, &now) == 0 && (now.flags & SER_RS485_ENABLED);
  return {};
}

TvxSerialError TtyDevice::GetState(TDCB& dcb) {
  struct termios2 tio;
  if (ioctl(fd_, TCGETS2, &tio) != 0) return vxSerialError(errno);
  std::lock_guard lock(state_mutex_);
  dcb = vxDcbFromTermios(tio, dcb_);
  return {};
}

int TtyDevice::FillQueueLocked() {
  while (queue_.size() < capacity_) {
    const std::size_t before = queue_.size();
    queue_.resize(capacity_);
    const ssize_t n = ::read(fd_, queue_.data() + before, capacity_ - before);
    queue_.resize(before + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) continue;
    if (n == 0) return EIO;
    return errno == EAGAIN || errno == EINTR ? 0 : errno;
  }
  return 0;
}

int TtyDevice::ReadLineLocked(char* out, std::uint32_t size, std::uint32_t& done, bool* empty) {
  while (done < size) {
    const ssize_t n = ::read(fd_, out + done, size - done);
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n == 0) return EIO;
    if (empty) *empty = errno == EAGAIN;
    return errno == EAGAIN || errno == EINTR ? 0 : errno;
  }
  return 0;
}

std::uint32_t TtyDevice::TakeQueuedLocked(char* out, std::uint32_t size) {
  const bool was_full = queue_.size() >= capacity_;
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size, queue_.size()));
  std::copy_n(queue_.data(), n, out);
  queue_.erase(0, n);
  if (was_full && n > 0) events_.Wake();
  return n;
}

TCOMSTAT TtyDevice::StatLocked(bool lineEmpty) const {
  TCOMSTAT stat;
  int n = 0;
  if (!lineEmpty && (ioctl(fd_, FIONREAD, &n) != 0 || n < 0)) n = 0;
  stat.cbInQue = static_cast<std::uint32_t>(queue_.size()) + static_cast<std::uint32_t>(n);
  int out = 0;
  if (ioctl(fd_, TIOCOUTQ, &out) != 0 || out < 0) out = 0;
  stat.cbOutQue = static_cast<std::uint32_t>(out) + writer_.QueuedBytes();
  // The hold flags matter only under CTS or DSR flow control.
  const std::uint32_t flow = flow_flags_;
  int lines = 0;
  if (flow && ioctl(fd_, TIOCMGET, &lines) == 0) {
    if ((flow & dcbflag::OutxCtsFlow) && !(lines & TIOCM_CTS)) stat.Flags |= 0x01;
    if ((flow & dcbflag::OutxDsrFlow) && !(lines & TIOCM_DSR)) stat.Flags |= 0x02;
  }
  return stat;
}

TvxLineReport TtyDevice::DoLook(void* buffer, std::uint32_t size) {
  TvxLineReport report;
  events_.Drain();
  std::lock_guard lock(input_mutex_);
  if (closed_) {
    report.failure = vxSerialError(EBADF);
    return report;
  }
  std::uint32_t events = 0, errors = 0;
  events_.TakeCounters(events, errors);
  events |= std::exchange(held_events_, 0);
  int write_error = 0;
  errors |= writer_.TakeErrors(&write_error);
  report.write_failure = vxSerialError(write_error);
  if (errors) events |= EV_ERR;
  if (writer_.TakeDrained()) events |= EV_TXEMPTY;
  const char event_char = event_char_;
  int input_error = 0;
  std::uint32_t arrived = 0;
  bool line_empty = false;
  if (errors || !buffer) {
    // Line errors end the event: the bytes beside them are kept for the next look, which
    // Wake brings. Without a buffer they are kept for Read.
    const std::size_t before = queue_.size();
    input_error = FillQueueLocked();
    arrived = static_cast<std::uint32_t>(queue_.size() - before);
    if (!input_error && queue_.size() >= capacity_) {
      // A full queue reads nothing: a hang-up is seen on the descriptor itself.
      struct pollfd p = {fd_, 0, 0};
      if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) input_error = EIO;
    }
    if (arrived && std::find(queue_.begin() + static_cast<std::ptrdiff_t>(before), queue_.end(),
                             event_char) != queue_.end())
      events |= EV_RXFLAG;
    if (arrived) Poke(read_wake_);
    if (buffer && !queue_.empty()) events_.Wake();
  } else {
    char* out = static_cast<char*>(buffer);
    report.taken = TakeQueuedLocked(out, size);
    input_error = ReadLineLocked(out, size, report.taken, &line_empty);
    arrived = report.taken;
    if (arrived && std::find(out, out + arrived, event_char) != out + arrived) events |= EV_RXFLAG;
    // A full buffer leaves bytes in the queue that the descriptor does not tell of.
    if (!queue_.empty()) events_.Wake();
  }
  if (arrived) events |= EV_RXCHAR;
  report.events = events & mask_;
  report.errors = errors;
  report.stat = StatLocked(line_empty);
  // What a vanished device left is reported first; the failure comes with the next look.
  if (input_error && !arrived && !report.events && !errors)
    report.failure = vxSerialError(input_error);
  else if (input_error)
    events_.Wake();
  return report;
}

TvxLineStatus TtyDevice::Status() {
  TvxLineStatus status;
  std::lock_guard lock(input_mutex_);
  if (closed_) return status;
  std::uint32_t events = 0;
  events_.TakeCounters(events, status.errors);
  int write_error = 0;
  status.errors |= writer_.TakeErrors(&write_error);
  status.write_failure = vxSerialError(write_error);
  // The events stay for the next look; the errors are the caller's now.
  held_events_ |= events | (status.errors ? EV_ERR : 0);
  if (held_events_) events_.Wake();
  status.stat = StatLocked();
  return status;
}

TvxSerialError TtyDevice::Read(void* buffer, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  const TCOMMTIMEOUTS t = Timeouts();
  const TReadBudget budget = ReadBudget(t, count);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budget.totalMs);
  const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != 0xFFFFFFFFu;
  char* out = static_cast<char*>(buffer);
  std::uint64_t abort_generation;
  {
    std::lock_guard lock(input_mutex_);
    if (closed_) return vxSerialError(EBADF);
    abort_generation = abort_generation_;
  }
  Clock::time_point last_byte;
  int error = 0;
  for (;;) {
    {
      std::lock_guard lock(input_mutex_);
      if (closed_) return vxSerialError(EBADF);
      if (abort_generation != abort_generation_) break;
      const std::uint32_t before = done;
      done += TakeQueuedLocked(out + done, count - done);
      error = ReadLineLocked(out, count, done);
      if (done > before) last_byte = Clock::now();
    }
    if (error || done == count || budget.immediate) break;
    int timeout = budget.totalMs ? MsUntil(deadline) : -1;
    if (interval && done > 0) {
      int gap = MsUntil(last_byte + std::chrono::milliseconds(t.ReadIntervalTimeout));
      timeout = timeout < 0 ? gap : std::min(timeout, gap);
    }
    if (timeout == 0) break;
    struct pollfd p[2] = {{fd_, POLLIN, 0}, {read_wake_, POLLIN, 0}};
    ::poll(p, 2, timeout);
    if (p[1].revents) Drain(read_wake_);
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLIN)) {
      error = EIO;
      break;
    }
  }
  return vxSerialError(error);
}

TvxSerialError TtyDevice::ModemStatus(std::uint32_t& status) {
  status = 0;
  int lines = 0;
  const int r = ioctl(fd_, TIOCMGET, &lines);
  SetLastLineCallError(r == 0 ? 0 : errno);
  if (r != 0) return Unsupported(errno) ? TvxSerialError{} : vxSerialError(errno);
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CD) status |= MS_RLSD_ON;
  return {};
}

TvxSerialError TtyDevice::Escape(int function) {
  int r = 0;
  int bit = (function == SETDTR || function == CLRDTR) ? TIOCM_DTR : TIOCM_RTS;
  switch (function) {
    case SETDTR:
    case SETRTS:
      r = ioctl(fd_, TIOCMBIS, &bit);
      break;
    case CLRDTR:
    case CLRRTS:
      r = ioctl(fd_, TIOCMBIC, &bit);
      break;
    case SETBREAK:
      r = ioctl(fd_, TIOCSBRK);
      break;
    case CLRBREAK:
      r = ioctl(fd_, TIOCCBRK);
      break;
    default:
      SetLastLineCallError(EINVAL);
      return vxSerialError(EINVAL);
  }
  SetLastLineCallError(r == 0 ? 0 : errno);
  return r == 0 || Unsupported(errno) ? TvxSerialError{} : vxSerialError(errno);
}

TvxSerialError TtyDevice::Purge(std::uint32_t flags) {
  if (closed_) return vxSerialError(EBADF);
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) writer_.Purge();
  if (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) {
    std::lock_guard lock(input_mutex_);
    if (flags & PURGE_RXCLEAR) {
      if (queue_.size() >= capacity_) events_.Wake();
      queue_.clear();
      ioctl(fd_, TCFLSH, TCIFLUSH);
    }
    if (flags & PURGE_RXABORT) {
      ++abort_generation_;
      Poke(read_wake_);
    }
  }
  return {};
}

void TtyDevice::Close() {
  {
    std::lock_guard lock(input_mutex_);
    if (closed_.exchange(true)) return;
  }
  writer_.Stop();
  events_.Stop();
  events_.Wake();
  Poke(read_wake_);
  // While the lock is still ours: the next program finds the line as this one found it. What
  // was still queued for output is gone by now (sent, or purged by the close).
  if (RestoreOnClose()) ioctl(fd_, TCSETS2, &found_);
  lock_->Release();
}

// USB adapters otherwise hold received bytes back for up to 16 ms.
void SetLowLatency(int fd) {
  struct serial_struct info = {};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return;
  info.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &info);
}
}  // namespace

TvxSerialOpen vxOpenTtyDevice(const std::string& path) {
  TvxSerialOpen result;
  // The lock comes first: opening a port raises its DTR, which another program's device
  // must not see.
  auto lock = std::make_unique<TvxPortLock>();
  TvxLockOwner owner;
  if (lock->Take(path, owner) != 0) {
    result.error = {EBUSY, vxLockOwnerText(owner)};
    return result;
  }
  // A port another program holds without a lock file (flock, TIOCEXCL) is refused with
  // the name of the process that holds it, where the kernel's lock table tells.
  auto busy = [&] {
    const TvxLockOwner holder = vxDeviceLockHolder(path);
    result.error =
        holder.pid > 0 ? TvxSerialError{EBUSY, vxLockOwnerText(holder)} : vxSerialError(EBUSY);
    return result;
  };
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EBUSY) return busy();
    result.error = vxSerialError(errno);
    return result;
  }
  auto fail = [&](int error) {
    ::close(fd);
    result.error = vxSerialError(error);
    return result;
  };
  if (!isatty(fd)) return fail(ENOTTY);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return fail(errno);
    ::close(fd);
    return busy();
  }
  if (ioctl(fd, TIOCEXCL) != 0 && !Unsupported(errno)) return fail(errno);
  struct termios2 found;
  if (ioctl(fd, TCGETS2, &found) != 0) return fail(errno);
  struct termios2 tio = found;
  vxMakeRawTermios(tio);
  if (ioctl(fd, TCSETS2, &tio) != 0) return fail(errno);
  // A port opens empty: what the device holds from before is no answer to anything this
  // session sends. A pseudo-terminal keeps what its far end wrote while nobody had it open,
  // such as a peer's acknowledgement of a packet sent just before the port was closed.
  ioctl(fd, TCFLSH, TCIFLUSH);
  SetLowLatency(fd);
  lock->Adopt();
  auto device = std::make_shared<TtyDevice>(fd, std::move(lock), found);
  if (!device->Valid()) {
    result.error = vxSerialError(EMFILE);
    return result;
  }
  result.device = std::move(device);
  return result;
}

}  // namespace vxcomm
