// The event source of a terminal device, for what does not arrive on its input descriptor:
// modem-line changes and line errors, read from the kernel's interrupt counters
// (TIOCGICOUNT) as differences, with a thread blocked in TIOCMIWAIT that tells when the
// lines change; and a wake descriptor that this thread, the writer and the device itself
// make readable.
//
// TIOCMIWAIT cannot be released but by a signal: the thread is woken for Stop by the
// real-time signal SIGRTMIN+4, whose handler does nothing. Drivers without the counters
// (pseudo-terminals among them) report neither line changes nor line errors, and get no
// such thread; nothing fails for that.
//
// Thread: every call is safe from any thread; Stop is called once, by the owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include <linux/serial.h>

namespace vxcomm {

class TvxTtyEvents {
 public:
  explicit TvxTtyEvents(int fd);
  ~TvxTtyEvents();
  TvxTtyEvents(const TvxTtyEvents&) = delete;
  TvxTtyEvents& operator=(const TvxTtyEvents&) = delete;

  // False when the wake descriptor could not be made.
  bool Valid() const { return wake_ >= 0; }
  int WakeFd() const { return wake_; }
  // Makes the wake descriptor readable; Drain empties it.
  void Wake();
  void Drain();
  // The counters' news since the last call: EV_CTS, EV_DSR, EV_RLSD, EV_RING and EV_BREAK
  // into Events, CE_BREAK, CE_FRAME, CE_RXPARITY, CE_OVERRUN and CE_RXOVER into Errors.
  void TakeCounters(std::uint32_t& events, std::uint32_t& errors);
  // Ends the modem-line thread.
  void Stop();

 private:
  void ModemLoop();

  const int fd_;
  int wake_ = -1;
  std::atomic<bool> woken_{false};  // the wake descriptor may be readable
  bool has_counters_ = false;
  std::mutex mutex_;  // guards the fields below
  struct serial_icounter_struct counters_ = {};
  bool stopped_ = false;
  bool modem_exited_ = false;
  std::thread modem_;
};

}  // namespace vxcomm
