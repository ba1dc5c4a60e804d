// termios2 comes from the kernel's own header, not glibc's <termios.h>: only termios2
// with BOTHER sets an arbitrary speed, and the two headers cannot be included together.
// So the flush and line-control calls below are ioctls rather than tcflush and friends.
//
// Line errors and modem-line changes come from the kernel's interrupt counters
// (TIOCGICOUNT) and a thread blocked in TIOCMIWAIT, not from polling; that thread is woken
// for the close by the real-time signal SIGRTMIN+4, whose handler does nothing. Drivers without
// the counters (pseudo-terminals among them) report neither, and the layer does not fail
// for that: modem status reads 0 and DTR/RTS changes are accepted and dropped.
#include "platform/serialtty.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <string>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// The signal that ends a thread's TIOCMIWAIT; its handler does nothing.
int WakeSignal() {
  return SIGRTMIN + 4;
}

void InstallWakeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
    sigaction(WakeSignal(), &action, nullptr);
  });
}

void Wake(int efd) {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(efd, &one, sizeof one);
}

void Drain(int efd) {
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(efd, &value, sizeof value);
}

// Milliseconds from now until Deadline, at least 0, for poll.
int MsUntil(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, 1 << 30));
}

// Errors that mean "this driver has no such function" rather than a failure of the line.
bool Unsupported(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

class TtyDevice : public TvxSerialDevice {
 public:
  TtyDevice(int fd) : fd_(fd) {
    wait_efd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    read_efd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    write_efd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    struct serial_icounter_struct counters = {};
    has_icount_ = ioctl(fd_, TIOCGICOUNT, &counters) == 0;
    icount_ = counters;
    writer_ = std::thread([this] { WriterLoop(); });
    if (has_icount_) {
      InstallWakeSignal();
      modem_ = std::thread([this] { ModemLoop(); });
    }
  }

  ~TtyDevice() override {
    Close();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(wait_efd_);
    ::close(read_efd_);
    ::close(write_efd_);
  }

  bool Valid() const { return wait_efd_ >= 0 && read_efd_ >= 0 && write_efd_ >= 0; }

  int SetState(const TDCB& dcb) override;
  int GetState(TDCB& dcb) override;
  int Read(void* buffer, std::uint32_t count, std::uint32_t& done) override;
  int Write(const void* buffer, std::uint32_t len, bool wait) override;
  int ClearError(std::uint32_t& errors, TCOMSTAT& stat) override;
  int SetMask(std::uint32_t mask) override;
  int WaitEvent(std::uint32_t& mask) override;
  void Release() override;
  TvxEventFds EventFds() const override { return {fd_, wait_efd_}; }
  int PollEvent(std::uint32_t& mask) override;
  bool InputReportedUnread() override;
  int ModemStatus(std::uint32_t& status) override;
  int Escape(int function) override;
  int Purge(std::uint32_t flags) override;
  bool KernelRS485() const override {
    std::lock_guard lock(mutex_);
    return kernel_rs485_;
  }
  void Close() override;

 private:
  struct WriteResult {
    bool done = false;
    int error = 0;
  };
  struct Segment {
    std::string data;
    std::size_t offset = 0;
    bool timed = false;
    Clock::time_point deadline;
    std::shared_ptr<WriteResult> result;  // null for a write nobody waits for
  };

  std::uint32_t InputCount() const {
    int n = 0;
    return ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? static_cast<std::uint32_t>(n) : 0;
  }
  std::uint32_t OutputCountLocked() const;
  std::uint32_t CollectCountersLocked();
  void WakeWaiterLocked() {
    wait_signalled_ = true;
    Wake(wait_efd_);
  }
  // The events of the mask that happened since the last report; they count as reported.
  std::uint32_t TakeEventsLocked(std::uint32_t available);
  void FinishLocked(Segment& segment, int error);
  void WriterLoop();
  void ModemLoop();
  bool TransmitterEmpty() const;
  int ApplyRS485Locked(bool enable);
  void SetLine(int bit, bool on);

  const int fd_;
  int wait_efd_ = -1;   // wakes WaitEvent
  int read_efd_ = -1;   // wakes Read
  int write_efd_ = -1;  // wakes the writer's poll
  bool has_icount_ = false;

  mutable std::mutex mutex_;            // guards everything below
  std::condition_variable out_cv_;      // the writer has work
  std::condition_variable written_cv_;  // a waited-for write finished
  bool closed_ = false;
  std::uint32_t mask_ = 0;
  std::uint64_t mask_generation_ = 0;  // bumped by SetMask: ends the pending wait
  bool release_pending_ = false;       // Release: ends the pending or the next wait
  std::uint32_t rx_level_ = 0;         // queued input bytes already reported
  // The queue length PollEvent read, standing for the ClearError that follows it until a
  // read or purge: input arriving since is a new event of its own.
  std::uint32_t peeked_input_ = 0;
  bool input_peeked_ = false;
  std::uint32_t errors_ = 0;   // CE_* flags not yet cleared
  bool errors_new_ = false;    // errors_ got a flag since the last EV_ERR
  bool tx_empty_ = false;      // output ran empty since the last report
  bool drain_wanted_ = false;  // the writer checks for empty after a write
  bool hangup_seen_ = false;
  bool waiting_on_reported_ = false;  // the waiter ignores queued input: a read must wake it
  bool wait_signalled_ = false;       // wait_efd_ may hold a count: PollEvent drains it
  struct serial_icounter_struct icount_ = {};
  std::uint64_t read_abort_generation_ = 0;
  std::deque<Segment> out_;
  std::size_t out_bytes_ = 0;
  TDCB dcb_;
  bool dcb_applied_ = false;
  bool kernel_rs485_ = false;
  bool modem_exited_ = false;

  std::thread writer_;  // owned; joined by Close
  std::thread modem_;   // owned; joined by Close
};

int TtyDevice::SetState(const TDCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
      dcb.StopBits > 2)
    return EINVAL;
  struct termios2 tio;
  if (ioctl(fd_, TCGETS2, &tio) != 0) return errno;
  const std::uint32_t f = dcb.Flags;
  tio.c_iflag = 0;
  if (f & dcbflag::Parity) tio.c_iflag |= INPCK;
  if (f & dcbflag::OutX) tio.c_iflag |= IXON;
  if (f & dcbflag::InX) tio.c_iflag |= IXOFF;
  // A UART in 7 bits or less hands over no eighth bit; stripping makes a line that does
  // not frame (a pseudo-terminal) or that carries software parity read the same.
  if (dcb.ByteSize < 8) tio.c_iflag |= ISTRIP;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag &= ~(CBAUD | CBAUDEX | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio.c_cflag |= BOTHER | CREAD | CLOCAL | HUPCL;
  tio.c_cflag &= ~(CIBAUD);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.StopBits != 0) tio.c_cflag |= CSTOPB;
  if ((f & dcbflag::OutxCtsFlow) || (f & dcbflag::RtsControlMask) == dcbflag::RtsHandshake)
    tio.c_cflag |= CRTSCTS;
  tio.c_ispeed = tio.c_ospeed = dcb.BaudRate;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (ioctl(fd_, TCSETS2, &tio) != 0) return errno;

  std::lock_guard lock(mutex_);
  // The lines follow the control fields only when those change, so that a new speed
  // does not raise a DTR or RTS the application dropped.
  std::uint32_t dtr = f & dcbflag::DtrControlMask, rts = f & dcbflag::RtsControlMask;
  if (!dcb_applied_ || dtr != (dcb_.Flags & dcbflag::DtrControlMask)) SetLine(TIOCM_DTR, dtr != 0);
  if (!dcb_applied_ || rts != (dcb_.Flags & dcbflag::RtsControlMask)) {
    if (rts != dcbflag::RtsToggle) SetLine(TIOCM_RTS, rts != 0);
    ApplyRS485Locked(rts == dcbflag::RtsToggle);
  }
  dcb_ = dcb;
  dcb_.DCBlength = 28;
  dcb_applied_ = true;
  return 0;
}

int TtyDevice::ApplyRS485Locked(bool enable) {
  struct serial_rs485 rs485 = {};
  if (enable)
    rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  else if (!kernel_rs485_)
    return 0;
  if (ioctl(fd_, TIOCSRS485, &rs485) != 0) {
    kernel_rs485_ = false;
    return errno;
  }
  // The driver reverts what it cannot do; only its read-back says what runs.
  struct serial_rs485 now = {};
  kernel_rs485_ = ioctl(fd_, TIOCGRS485, &now) == 0 && (now.flags & SER_RS485_ENABLED);
  return 0;
}

void TtyDevice::SetLine(int bit, bool on) {
  ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

int TtyDevice::GetState(TDCB& dcb) {
  struct termios2 tio;
  if (ioctl(fd_, TCGETS2, &tio) != 0) return errno;
  std::lock_guard lock(mutex_);
  dcb = dcb_;
  dcb.BaudRate = tio.c_ospeed;
  static const std::uint8_t sizes[] = {5, 6, 7, 8};
  dcb.ByteSize = sizes[(tio.c_cflag & CSIZE) >> 4];
  if (!(tio.c_cflag & PARENB))
    dcb.Parity = 0;
  else if (tio.c_cflag & CMSPAR)
    dcb.Parity = (tio.c_cflag & PARODD) ? 3 : 4;
  else
    dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
  if (!(tio.c_cflag & CSTOPB))
    dcb.StopBits = 0;
  else if (dcb.StopBits == 0)
    dcb.StopBits = 2;
  return 0;
}

int TtyDevice::Read(void* buffer, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  const TCOMMTIMEOUTS t = Timeouts();
  const TReadBudget budget = ReadBudget(t, count);
  const bool immediate = budget.immediate;
  const std::uint64_t total = budget.totalMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
  const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != 0xFFFFFFFFu;
  std::uint64_t abort_generation;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    abort_generation = read_abort_generation_;
  }
  char* out = static_cast<char*>(buffer);
  Clock::time_point last_byte;
  int error = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, out + done, count - done);
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
      last_byte = Clock::now();
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      error = n == 0 ? EIO : errno;
      break;
    }
    if (immediate) break;
    int timeout = -1;
    if (total) timeout = MsUntil(deadline);
    if (interval && done > 0) {
      int gap = MsUntil(last_byte + std::chrono::milliseconds(t.ReadIntervalTimeout));
      timeout = timeout < 0 ? gap : std::min(timeout, gap);
    }
    if (timeout == 0) break;
    struct pollfd p[2] = {{fd_, POLLIN, 0}, {read_efd_, POLLIN, 0}};
    ::poll(p, 2, timeout);
    if (p[1].revents) {
      Drain(read_efd_);
      std::lock_guard lock(mutex_);
      if (closed_ || read_abort_generation_ != abort_generation) break;
    }
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLIN)) {
      error = EIO;
      break;
    }
  }
  // Bytes that came in during the read stay new for the event wait.
  std::lock_guard lock(mutex_);
  input_peeked_ = false;
  std::uint32_t level = rx_level_ > done ? rx_level_ - done : 0;
  // A waiter that saw only reported bytes watches for readable input again.
  if (level != rx_level_ && waiting_on_reported_) WakeWaiterLocked();
  rx_level_ = level;
  return error;
}

int TtyDevice::Write(const void* buffer, std::uint32_t len, bool wait) {
  if (len == 0) return 0;
  const TCOMMTIMEOUTS t = Timeouts();
  const std::uint64_t total =
      std::uint64_t(t.WriteTotalTimeoutMultiplier) * len + t.WriteTotalTimeoutConstant;
  std::unique_lock lock(mutex_);
  if (closed_) return EBADF;
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t written = 0;
  // Straight to the driver while nothing is queued ahead; the rest goes to the writer.
  if (out_.empty()) {
    ssize_t n = ::write(fd_, bytes, len);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return errno;
    if (n > 0) written = static_cast<std::size_t>(n);
  }
  // The writer watches the output drain only for a waiter on EV_TXEMPTY; waking it for
  // every write would cost a thread switch per packet.
  const bool drain = mask_ & EV_TXEMPTY;
  if (drain) drain_wanted_ = true;
  if (written == len) {
    if (drain) out_cv_.notify_one();
    return 0;
  }
  Segment segment;
  segment.data.assign(bytes + written, len - written);
  segment.timed = total != 0;
  segment.deadline = Clock::now() + std::chrono::milliseconds(total);
  if (wait) segment.result = std::make_shared<WriteResult>();
  std::shared_ptr<WriteResult> result = segment.result;
  out_bytes_ += segment.data.size();
  out_.push_back(std::move(segment));
  out_cv_.notify_one();
  Wake(write_efd_);
  if (!wait) return 0;
  written_cv_.wait(lock, [&] { return result->done; });
  return result->error;
}

void TtyDevice::FinishLocked(Segment& segment, int error) {
  out_bytes_ -= segment.data.size() - segment.offset;
  if (segment.result) {
    segment.result->done = true;
    segment.result->error = error;
    written_cv_.notify_all();
  } else if (error) {
    // Nobody waits for this write: the loss shows at the next error query.
    errors_ |= CE_TXFULL;
    errors_new_ = true;
    WakeWaiterLocked();
  }
}

bool TtyDevice::TransmitterEmpty() const {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) return false;
  // The shift register, where the driver tells: RS-485 must not drop RTS under the last byte.
  unsigned lsr = 0;
  if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0) return lsr & TIOCSER_TEMT;
  return true;
}

void TtyDevice::WriterLoop() {
  std::unique_lock lock(mutex_);
  while (!closed_) {
    if (out_.empty()) {
      if (!drain_wanted_) {
        out_cv_.wait(lock);
        continue;
      }
      if (!(mask_ & EV_TXEMPTY)) {
        drain_wanted_ = false;
        continue;
      }
      lock.unlock();
      bool empty = TransmitterEmpty();
      lock.lock();
      if (empty && out_.empty()) {
        drain_wanted_ = false;
        tx_empty_ = true;
        WakeWaiterLocked();
      } else if (!empty) {
        out_cv_.wait_for(lock, std::chrono::milliseconds(1));
      }
      continue;
    }
    Segment& front = out_.front();
    ssize_t n = ::write(fd_, front.data.data() + front.offset, front.data.size() - front.offset);
    if (n > 0) {
      front.offset += static_cast<std::size_t>(n);
      out_bytes_ -= static_cast<std::size_t>(n);
      if (front.offset == front.data.size()) {
        FinishLocked(front, 0);
        out_.pop_front();
      }
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      int error = errno;
      for (Segment& s : out_) FinishLocked(s, error);
      out_.clear();
      continue;
    }
    if (front.timed && Clock::now() >= front.deadline) {
      FinishLocked(front, ETIMEDOUT);
      out_.pop_front();
      continue;
    }
    int timeout = front.timed ? MsUntil(front.deadline) : -1;
    lock.unlock();
    struct pollfd p[2] = {{fd_, POLLOUT, 0}, {write_efd_, POLLIN, 0}};
    ::poll(p, 2, timeout);
    if (p[1].revents) Drain(write_efd_);
    lock.lock();
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLOUT)) {
      for (Segment& s : out_) FinishLocked(s, EIO);
      out_.clear();
    }
  }
  for (Segment& s : out_) FinishLocked(s, EBADF);
  out_.clear();
}

void TtyDevice::ModemLoop() {
  for (;;) {
    int r = ioctl(fd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS);
    int error = errno;
    std::lock_guard lock(mutex_);
    if (closed_) break;
    if (r == 0 || error != EINTR) WakeWaiterLocked();
    if (r != 0 && error != EINTR) break;  // no longer supported, or the device went away
  }
  std::lock_guard lock(mutex_);
  modem_exited_ = true;
}

std::uint32_t TtyDevice::CollectCountersLocked() {
  if (!has_icount_) return 0;
  struct serial_icounter_struct now = {};
  if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
  std::uint32_t events = 0, errors = 0;
  if (now.cts != icount_.cts) events |= EV_CTS;
  if (now.dsr != icount_.dsr) events |= EV_DSR;
  if (now.dcd != icount_.dcd) events |= EV_RLSD;
  if (now.rng != icount_.rng) events |= EV_RING;
  if (now.brk != icount_.brk) errors |= CE_BREAK;
  if (now.frame != icount_.frame) errors |= CE_FRAME;
  if (now.parity != icount_.parity) errors |= CE_RXPARITY;
  if (now.overrun != icount_.overrun) errors |= CE_OVERRUN;
  if (now.buf_overrun != icount_.buf_overrun) errors |= CE_RXOVER;
  icount_ = now;
  if (errors & CE_BREAK) events |= EV_BREAK;
  if (errors) {
    errors_ |= errors;
    errors_new_ = true;
  }
  return events;
}

std::uint32_t TtyDevice::OutputCountLocked() const {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
  return static_cast<std::uint32_t>(queued) + static_cast<std::uint32_t>(out_bytes_);
}

int TtyDevice::ClearError(std::uint32_t& errors, TCOMSTAT& stat) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  CollectCountersLocked();
  errors = errors_;
  errors_ = 0;
  stat.cbInQue = input_peeked_ ? peeked_input_ : InputCount();
  input_peeked_ = false;
  stat.cbOutQue = OutputCountLocked();
  stat.Flags = 0;
  int lines = 0;
  // The hold flags matter only under CTS or DSR flow control.
  const bool flow = dcb_.Flags & (dcbflag::OutxCtsFlow | dcbflag::OutxDsrFlow);
  if (flow && ioctl(fd_, TIOCMGET, &lines) == 0) {
    if ((dcb_.Flags & dcbflag::OutxCtsFlow) && !(lines & TIOCM_CTS)) stat.Flags |= 0x01;
    if ((dcb_.Flags & dcbflag::OutxDsrFlow) && !(lines & TIOCM_DSR)) stat.Flags |= 0x02;
  }
  if (errors && stat.cbInQue) {
    // Bytes left queued beside an error get a receive event of their own.
    rx_level_ = 0;
    WakeWaiterLocked();
  }
  return 0;
}

int TtyDevice::SetMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  mask_ = mask;
  ++mask_generation_;
  WakeWaiterLocked();
  if (mask & EV_TXEMPTY) out_cv_.notify_one();
  return 0;
}

void TtyDevice::Release() {
  std::lock_guard lock(mutex_);
  release_pending_ = true;
  WakeWaiterLocked();
}

int TtyDevice::WaitEvent(std::uint32_t& mask) {
  mask = 0;
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = mask_generation_;
  for (;;) {
    if (closed_) return EBADF;
    if (generation != mask_generation_) return 0;
    if (release_pending_) {
      release_pending_ = false;
      return 0;
    }
    const std::uint32_t available = InputCount();
    if (std::uint32_t events = TakeEventsLocked(available)) {
      mask = events;
      return 0;
    }
    if (hangup_seen_) return EIO;
    // Bytes already reported and still queued make the descriptor readable for good, so
    // their growth is looked for at intervals instead.
    const bool reported = available > 0 && available <= rx_level_;
    waiting_on_reported_ = reported;
    lock.unlock();
    struct pollfd p[2] = {{fd_, short(reported ? 0 : POLLIN), 0}, {wait_efd_, POLLIN, 0}};
    ::poll(p, 2, reported ? 10 : -1);
    if (p[1].revents) Drain(wait_efd_);
    lock.lock();
    // A vanished device: what it left is reported first, the failure at the next round.
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) hangup_seen_ = true;
  }
}

std::uint32_t TtyDevice::TakeEventsLocked(std::uint32_t available) {
  std::uint32_t events = CollectCountersLocked();
  if (available > rx_level_) events |= EV_RXCHAR;
  if (tx_empty_) events |= EV_TXEMPTY;
  if (errors_new_) events |= EV_ERR;
  tx_empty_ = false;
  errors_new_ = false;
  events &= mask_;
  if (events & EV_RXCHAR) rx_level_ = available;
  return events;
}

int TtyDevice::PollEvent(std::uint32_t& mask) {
  mask = 0;
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  if (wait_signalled_) {
    wait_signalled_ = false;
    Drain(wait_efd_);
  }
  int queued = 0;
  if (ioctl(fd_, FIONREAD, &queued) != 0) {
    // A hung-up terminal fails every query.
    if (errno == EIO) hangup_seen_ = true;
    queued = 0;
  } else if (queued == 0 && !hangup_seen_) {
    // Readable with nothing queued: the line may have hung up.
    struct pollfd p = {fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) hangup_seen_ = true;
  }
  peeked_input_ = static_cast<std::uint32_t>(std::max(queued, 0));
  input_peeked_ = true;
  mask = TakeEventsLocked(peeked_input_);
  if (mask) {
    // What a vanished device left is reported first; the failure needs one more round.
    if (hangup_seen_) WakeWaiterLocked();
    return 0;
  }
  return hangup_seen_ ? EIO : 0;
}

bool TtyDevice::InputReportedUnread() {
  std::lock_guard lock(mutex_);
  waiting_on_reported_ = rx_level_ > 0;
  return waiting_on_reported_;
}

int TtyDevice::ModemStatus(std::uint32_t& status) {
  status = 0;
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return Unsupported(errno) ? 0 : errno;
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CD) status |= MS_RLSD_ON;
  return 0;
}

int TtyDevice::Escape(int function) {
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
      return EINVAL;
  }
  return r == 0 || Unsupported(errno) ? 0 : errno;
}

int TtyDevice::Purge(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (closed_) return EBADF;
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
    for (Segment& s : out_) FinishLocked(s, ECANCELED);
    out_.clear();
    ioctl(fd_, TCFLSH, TCOFLUSH);
  }
  if (flags & PURGE_RXCLEAR) {
    ioctl(fd_, TCFLSH, TCIFLUSH);
    input_peeked_ = false;
    rx_level_ = 0;
  }
  if (flags & PURGE_RXABORT) {
    ++read_abort_generation_;
    Wake(read_efd_);
  }
  return 0;
}

void TtyDevice::Close() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    ++mask_generation_;
    out_cv_.notify_all();
  }
  Wake(wait_efd_);
  Wake(read_efd_);
  Wake(write_efd_);
  if (writer_.joinable()) writer_.join();
  if (modem_.joinable()) {
    // The signal may come before the thread enters the ioctl, so it is sent until the
    // thread has seen the close.
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (modem_exited_) break;
      }
      pthread_kill(modem_.native_handle(), WakeSignal());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    modem_.join();
  }
}

// A raw line at 9600 8N1 until the component applies its own settings.
int MakeRaw(int fd) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_iflag = 0;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag &= ~(CBAUD | CBAUDEX | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  tio.c_cflag |= BOTHER | CS8 | CREAD | CLOCAL | HUPCL;
  tio.c_ispeed = tio.c_ospeed = 9600;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

// USB adapters otherwise hold received bytes back for up to 16 ms.
void SetLowLatency(int fd) {
  struct serial_struct info = {};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0) return;
  info.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &info);
}
}  // namespace

std::shared_ptr<TvxSerialDevice> vxOpenTtyDevice(const std::string& path, int& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  auto fail = [&](int e) -> std::shared_ptr<TvxSerialDevice> {
    error = e;
    ::close(fd);
    return nullptr;
  };
  if (!isatty(fd)) return fail(ENOTTY);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (ioctl(fd, TIOCEXCL) != 0 && !Unsupported(errno)) return fail(errno);
  if (int e = MakeRaw(fd)) return fail(e);
  SetLowLatency(fd);
  auto device = std::make_shared<TtyDevice>(fd);
  if (!device->Valid()) {
    error = EMFILE;
    return nullptr;
  }
  return device;
}
