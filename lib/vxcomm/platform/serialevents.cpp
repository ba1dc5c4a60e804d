#include "vxcomm/platform/serialevents.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>

#include "vxcomm/platform/serialtypes.h"

namespace vxcomm {

namespace {
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
}  // namespace

TvxTtyEvents::TvxTtyEvents(int fd) : fd_(fd), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  has_counters_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
  if (has_counters_ && Valid()) {
    InstallWakeSignal();
    modem_ = std::thread([this] { ModemLoop(); });
  }
}

TvxTtyEvents::~TvxTtyEvents() {
  Stop();
  if (wake_ >= 0) ::close(wake_);
}

void TvxTtyEvents::Wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  // Set after the write: a Drain that sees it finds the descriptor readable.
  woken_.store(true, std::memory_order_release);
}

void TvxTtyEvents::Drain() {
  // A read only when something woke us: most looks follow input alone.
  if (!woken_.exchange(false, std::memory_order_acq_rel)) return;
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(wake_, &value, sizeof value);
}

void TvxTtyEvents::TakeCounters(std::uint32_t& events, std::uint32_t& errors) {
  events = errors = 0;
  if (!has_counters_) return;
  struct serial_icounter_struct now = {};
  if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return;
  std::lock_guard lock(mutex_);
  if (now.cts != counters_.cts) events |= EV_CTS;
  if (now.dsr != counters_.dsr) events |= EV_DSR;
  if (now.dcd != counters_.dcd) events |= EV_RLSD;
  if (now.rng != counters_.rng) events |= EV_RING;
  if (now.brk != counters_.brk) errors |= CE_BREAK;
  if (now.frame != counters_.frame) errors |= CE_FRAME;
  if (now.parity != counters_.parity) errors |= CE_RXPARITY;
  if (now.overrun != counters_.overrun) errors |= CE_OVERRUN;
  if (now.buf_overrun != counters_.buf_overrun) errors |= CE_RXOVER;
  if (errors & CE_BREAK) events |= EV_BREAK;
  counters_ = now;
}

void TvxTtyEvents::ModemLoop() {
  for (;;) {
    const int r = ioctl(fd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS);
    const int error = errno;
    std::lock_guard lock(mutex_);
    if (stopped_) break;
    if (r == 0 || error != EINTR) Wake();
    if (r != 0 && error != EINTR) break;  // no longer supported, or the device went away
  }
  std::lock_guard lock(mutex_);
  modem_exited_ = true;
}

void TvxTtyEvents::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  if (!modem_.joinable()) return;
  // The signal may come before the thread enters the ioctl, so it is sent until the thread
  // has seen the stop.
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

}  // namespace vxcomm
