#include "support/nullmodem.h"

#include <sys/eventfd.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "vxcomm/platform/serialport.h"
#include "vxcomm/unqualified.h"

namespace {
using Clock = std::chrono::steady_clock;

// The input queue of an end holds at least this much, as a terminal device's does.
constexpr std::size_t kMinQueue = 4096;

struct Byte {
  char value;
  Clock::time_point ready;  // when the last bit has arrived
};

struct EndState {
  std::string name;
  bool open = false;
  bool vanished = false;
  int wake = -1;  // the open end's wake descriptor
  TDCB dcb;
  bool dtr = false, rts = false, breakOn = false;
  std::uint32_t mask = 0;
  std::deque<Byte> wire;   // bytes on their way in, in order of arrival
  std::deque<char> queue;  // bytes arrived and looked at, not yet taken
  std::size_t capacity = 8192;
  std::uint32_t errors = 0;  // CE_* not yet reported
  std::uint32_t events = 0;  // pending modem, error and break events
  Clock::time_point ringUntil;
  Clock::time_point txBusyUntil;
  bool txPending = false;
  std::uint64_t readAbort = 0;
  std::uint64_t txPurge = 0;  // bumped by a purge of the output: ends waiting writes
  std::string sent;
  TvxNullModem::Faults faults;
  std::mt19937 random{1};
  bool pnp = false;  // a PnP device stands for the far side of this end
  std::string pnpId;
  bool pnpReset = false;  // both lines were seen low since the last answer
};
}  // namespace

struct TvxNullModem::Cable {
  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  bool pacing = false;
  bool gone = false;
  EndState ends[2];
  int pnpAnswers = 0;
  std::thread clock;  // wakes the ends when paced bytes arrive or their output drains

  // The end's wake descriptor turns readable: something happened there.
  void Signal(int end) {
    if (ends[end].wake < 0) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(ends[end].wake, &one, sizeof one);
  }

  // Bytes at the head of the wire that have arrived by Now.
  std::size_t Ready(const EndState& e, Clock::time_point now) const {
    std::size_t n = 0;
    for (const Byte& b : e.wire) {
      if (b.ready > now) break;
      ++n;
    }
    return n;
  }

  // The next moment after Now at which something happens at End, or max.
  Clock::time_point NextDue(int end, Clock::time_point now) const {
    const EndState& e = ends[end];
    Clock::time_point due = Clock::time_point::max();
    for (const Byte& b : e.wire)
      if (b.ready > now) {
        due = b.ready;
        break;
      }
    if (e.txPending && e.txBusyUntil > now) due = std::min(due, e.txBusyUntil);
    return due;
  }

  void ClockLoop() {
    std::unique_lock lock(mutex);
    std::array<Clock::time_point, 2> due = {Clock::time_point::max(), Clock::time_point::max()};
    while (!gone) {
      const Clock::time_point now = Clock::now();
      for (int end = 0; end < 2; ++end)
        if (due[end] <= now) Signal(end);
      for (int end = 0; end < 2; ++end) due[end] = NextDue(end, now);
      const Clock::time_point next = std::min(due[0], due[1]);
      if (next == Clock::time_point::max())
        changed.wait(lock);
      else
        changed.wait_until(lock, next);
    }
  }

  Clock::duration CharTime(const TDCB& dcb) const {
    if (!pacing || dcb.BaudRate == 0) return {};
    double bits = 1 + dcb.ByteSize + (dcb.Parity ? 1 : 0) + (dcb.StopBits ? 2 : 1);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(bits / dcb.BaudRate));
  }

  // The far side's lines as End sees them.
  bool PeerDtr(int end) const {
    const EndState& peer = ends[1 - end];
    if (ends[end].pnp) return ends[end].dtr;  // the device echoes DTR as DSR
    return peer.open && peer.dtr;
  }
  bool PeerRts(int end) const {
    const EndState& peer = ends[1 - end];
    if (ends[end].pnp) return ends[end].rts;
    return peer.open && peer.rts;
  }

  void Transmit(int from, const char* bytes, std::size_t len) {
    EndState& src = ends[from];
    EndState& dst = ends[1 - from];
    src.sent.append(bytes, len);
    Clock::time_point now = Clock::now();
    Clock::time_point at = std::max(now, src.txBusyUntil);
    Clock::duration step = CharTime(src.dcb);
    std::uniform_real_distribution<double> chance(0, 1);
    for (std::size_t i = 0; i < len; ++i) {
      at += step;
      char c = bytes[i];
      if (src.faults.dropRate > 0 && chance(src.random) < src.faults.dropRate) continue;
      if (src.faults.flipRate > 0 && chance(src.random) < src.faults.flipRate)
        c = static_cast<char>(c ^ (1 << std::uniform_int_distribution<int>(0, 7)(src.random)));
      if (!dst.open || dst.pnp) continue;  // nobody on the other side
      dst.wire.push_back({c, at});
      if (src.faults.duplicateRate > 0 && chance(src.random) < src.faults.duplicateRate)
        dst.wire.push_back({c, at});
    }
    src.txBusyUntil = at;
    src.txPending = true;
    if (at <= now) {
      Signal(from);
      Signal(1 - from);
    }
    changed.notify_all();
  }

  void LinesChanged(int end, bool dtrBefore, bool rtsBefore) {
    EndState& e = ends[end];
    EndState& peer = ends[1 - end];
    if (peer.open) {
      if (dtrBefore != e.dtr) peer.events |= EV_DSR | EV_RLSD;
      if (rtsBefore != e.rts) peer.events |= EV_CTS;
      if (peer.events) Signal(1 - end);
    }
    if (e.pnp) {
      if (dtrBefore != e.dtr) e.events |= EV_DSR | EV_RLSD;
      if (rtsBefore != e.rts) e.events |= EV_CTS;
      if (!e.dtr && !e.rts) e.pnpReset = true;
      // The device powers up from DTR, then answers when RTS follows.
      if (e.pnpReset && e.dtr && e.rts && !rtsBefore) {
        e.pnpReset = false;
        ++pnpAnswers;
        const TDCB& d = e.dcb;
        bool framing = d.BaudRate == 1200 && d.ByteSize == 7 && d.Parity == 0 && d.StopBits == 0;
        Clock::time_point at = Clock::now();
        TDCB wire;
        wire.BaudRate = 1200;
        wire.ByteSize = 7;
        Clock::duration step = CharTime(wire);
        for (char c : e.pnpId) {
          at += step;
          if (framing) {
            e.wire.push_back({c, at});
          } else {
            e.wire.push_back({static_cast<char>(c | 0x80), at});
            e.errors |= CE_FRAME;
            e.events |= EV_ERR;
          }
        }
      }
      Signal(end);
    }
    changed.notify_all();
  }
};

namespace {
class VirtualEnd : public TvxSerialDevice {
 public:
  VirtualEnd(std::shared_ptr<TvxNullModem::Cable> cable, int end, int wake)
      : cable_(std::move(cable)), end_(end), wake_(wake) {}
  ~VirtualEnd() override {
    Close();
    ::close(wake_);
  }

  TvxSerialError SetState(const TDCB& dcb) override {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        dcb.StopBits > 2)
      return vxSerialError(EINVAL);
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    EndState& s = Self();
    bool dtr = s.dtr, rts = s.rts;
    std::uint32_t dtrControl = dcb.Flags & dcbflag::DtrControlMask;
    std::uint32_t rtsControl = dcb.Flags & dcbflag::RtsControlMask;
    if (!applied_ || dtrControl != (s.dcb.Flags & dcbflag::DtrControlMask)) s.dtr = dtrControl != 0;
    if (!applied_ || rtsControl != (s.dcb.Flags & dcbflag::RtsControlMask))
      s.rts = rtsControl != 0 && rtsControl != dcbflag::RtsToggle;
    s.dcb = dcb;
    applied_ = true;
    cable_->LinesChanged(end_, dtr, rts);
    return {};
  }

  TvxSerialError GetState(TDCB& dcb) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    dcb = Self().dcb;
    return {};
  }

  void SetQueueSizes(std::uint32_t in, std::uint32_t) override {
    std::lock_guard lock(cable_->mutex);
    EndState& s = Self();
    const bool was_full = s.queue.size() >= s.capacity;
    s.capacity = std::max<std::size_t>(in, kMinQueue);
    if (was_full && s.queue.size() < s.capacity) cable_->Signal(end_);
  }

  TvxSerialError SetMask(std::uint32_t mask) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    Self().mask = mask;
    return {};
  }

  TvxEventFds EventFds() const override { return {-1, wake_}; }

  bool WatchInput() override {
    std::lock_guard lock(cable_->mutex);
    return Self().queue.size() < Self().capacity;
  }

  void Wake() override {
    std::lock_guard lock(cable_->mutex);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  }

  TvxLineStatus Status() override {
    TvxLineStatus status;
    std::lock_guard lock(cable_->mutex);
    if (Check()) return status;
    EndState& s = Self();
    status.errors = std::exchange(s.errors, 0);
    status.stat = StatLocked(Clock::now());
    return status;
  }

  TvxSerialError Read(void* buffer, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    const TCOMMTIMEOUTS t = Timeouts();
    const TReadBudget budget = ReadBudget(t, count);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budget.totalMs);
    std::unique_lock lock(cable_->mutex);
    const std::uint64_t abort = Self().readAbort;
    char* out = static_cast<char*>(buffer);
    int error = 0;
    for (;;) {
      if ((error = Check())) break;
      EndState& s = Self();
      Clock::time_point now = Clock::now();
      done += TakeLocked(out + done, count - done, now);
      if (done == count || budget.immediate || s.readAbort != abort) break;
      if (budget.totalMs && now >= deadline) break;
      Clock::time_point until = budget.totalMs ? deadline : Clock::time_point::max();
      if (!s.wire.empty()) until = std::min(until, s.wire.front().ready);
      if (until == Clock::time_point::max())
        cable_->changed.wait(lock);
      else
        cable_->changed.wait_until(lock, until);
    }
    return vxSerialError(error);
  }

  TvxSerialError ModemStatus(std::uint32_t& status) override {
    std::lock_guard lock(cable_->mutex);
    status = 0;
    if (int e = Check()) return vxSerialError(e);
    if (cable_->PeerRts(end_)) status |= MS_CTS_ON;
    if (cable_->PeerDtr(end_)) status |= MS_DSR_ON | MS_RLSD_ON;
    if (Clock::now() < Self().ringUntil) status |= MS_RING_ON;
    return {};
  }

  TvxSerialError Escape(int function) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    EndState& s = Self();
    bool dtr = s.dtr, rts = s.rts;
    switch (function) {
      case SETDTR:
        s.dtr = true;
        break;
      case CLRDTR:
        s.dtr = false;
        break;
      case SETRTS:
        s.rts = true;
        break;
      case CLRRTS:
        s.rts = false;
        break;
      case SETBREAK:
      case CLRBREAK: {
        bool on = function == SETBREAK;
        EndState& peer = cable_->ends[1 - end_];
        if (on && !s.breakOn && peer.open) {
          peer.errors |= CE_BREAK;
          peer.events |= EV_BREAK | EV_ERR;
          cable_->Signal(1 - end_);
        }
        s.breakOn = on;
        break;
      }
      default:
        return vxSerialError(EINVAL);
    }
    cable_->LinesChanged(end_, dtr, rts);
    return {};
  }

  TvxSerialError Purge(std::uint32_t flags) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    EndState& s = Self();
    if (flags & PURGE_RXCLEAR) {
      if (s.queue.size() >= s.capacity) cable_->Signal(end_);
      s.wire.clear();
      s.queue.clear();
    }
    if (flags & PURGE_RXABORT) ++s.readAbort;
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
      // What is still on its way (paced bytes not yet arrived) is this end's output queue.
      Clock::time_point now = Clock::now();
      std::deque<Byte>& in_flight = cable_->ends[1 - end_].wire;
      while (!in_flight.empty() && in_flight.back().ready > now) in_flight.pop_back();
      s.txBusyUntil = std::min(s.txBusyUntil, now);
      ++s.txPurge;
    }
    cable_->changed.notify_all();
    return {};
  }

  void Close() override {
    std::lock_guard lock(cable_->mutex);
    if (closed_) return;
    closed_ = true;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    EndState& s = Self();
    if (s.wake == wake_) s.wake = -1;
    if (cable_->gone) return;
    bool dtr = s.dtr, rts = s.rts;
    s.open = false;
    s.dtr = s.rts = false;
    s.wire.clear();
    s.queue.clear();
    cable_->LinesChanged(end_, dtr, rts);
  }

  std::intptr_t Token() const override { return wake_; }

 protected:
  TvxLineReport DoLook(void* buffer, std::uint32_t size) override {
    TvxLineReport report;
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(wake_, &value, sizeof value);
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) {
      report.failure = vxSerialError(e);
      return report;
    }
    EndState& s = Self();
    const Clock::time_point now = Clock::now();
    std::uint32_t events = std::exchange(s.events, 0);
    const std::uint32_t errors = std::exchange(s.errors, 0);
    if (s.txPending && now >= s.txBusyUntil) {
      events |= EV_TXEMPTY;
      s.txPending = false;
    }
    std::uint32_t arrived = 0;
    bool flag = false;
    if (errors || !buffer) {
      // The bytes beside line errors are kept for the next look; without a buffer for Read.
      while (s.queue.size() < s.capacity && !s.wire.empty() && s.wire.front().ready <= now) {
        flag |= s.wire.front().value == s.dcb.EvtChar;
        s.queue.push_back(s.wire.front().value);
        s.wire.pop_front();
        ++arrived;
      }
      if (arrived) cable_->changed.notify_all();
      if (buffer && !s.queue.empty()) cable_->Signal(end_);
    } else {
      char* out = static_cast<char*>(buffer);
      report.taken = TakeLocked(out, size, now);
      arrived = report.taken;
      flag = std::find(out, out + arrived, s.dcb.EvtChar) != out + arrived;
      if (!s.queue.empty() || cable_->Ready(s, now) > 0) cable_->Signal(end_);
    }
    if (arrived) events |= EV_RXCHAR;
    if (flag) events |= EV_RXFLAG;
    report.events = events & s.mask;
    report.errors = errors;
    report.stat = StatLocked(now);
    return report;
  }

  TvxSerialError DoWrite(const void* buffer, std::uint32_t len, bool wait) override {
    std::unique_lock lock(cable_->mutex);
    if (int e = Check()) return vxSerialError(e);
    cable_->Transmit(end_, static_cast<const char*>(buffer), len);
    if (wait && cable_->pacing) {
      Clock::time_point until = Self().txBusyUntil;
      const std::uint64_t purge = Self().txPurge;
      cable_->changed.wait_until(lock, until,
                                 [&] { return Check() != 0 || Self().txPurge != purge; });
    }
    return {};
  }

 private:
  EndState& Self() { return cable_->ends[end_]; }
  const EndState& Self() const { return cable_->ends[end_]; }
  // The error of any call now: closed, vanished or the cable removed.
  int Check() const {
    if (closed_) return EBADF;
    if (cable_->gone || Self().vanished) return EIO;
    return 0;
  }
  // Takes up to Size received bytes, the queued ones first.
  std::uint32_t TakeLocked(char* out, std::uint32_t size, Clock::time_point now) {
    EndState& s = Self();
    std::uint32_t n = 0;
    const bool was_full = s.queue.size() >= s.capacity;
    while (n < size && !s.queue.empty()) {
      out[n++] = s.queue.front();
      s.queue.pop_front();
    }
    while (n < size && !s.wire.empty() && s.wire.front().ready <= now) {
      out[n++] = s.wire.front().value;
      s.wire.pop_front();
    }
    if (was_full && n > 0) cable_->Signal(end_);
    return n;
  }
  TCOMSTAT StatLocked(Clock::time_point now) const {
    const EndState& s = Self();
    TCOMSTAT stat;
    stat.cbInQue = static_cast<std::uint32_t>(s.queue.size() + cable_->Ready(s, now));
    for (const Byte& b : cable_->ends[1 - end_].wire)
      if (b.ready > now) ++stat.cbOutQue;
    if ((s.dcb.Flags & dcbflag::OutxCtsFlow) && !cable_->PeerRts(end_)) stat.Flags |= 0x01;
    return stat;
  }

  std::shared_ptr<TvxNullModem::Cable> cable_;
  const int end_;
  const int wake_;
  bool closed_ = false;  // guarded by the cable's mutex
  bool applied_ = false;
};
}  // namespace

TvxNullModem::TvxNullModem(const std::string& nameA, const std::string& nameB)
    : cable_(std::make_shared<Cable>()) {
  cable_->ends[0].name = nameA;
  cable_->ends[1].name = nameB;
  cable_->clock = std::thread([cable = cable_.get()] { cable->ClockLoop(); });
  for (int end = 0; end < 2; ++end) {
    std::weak_ptr<Cable> weak = cable_;
    vxRegisterSerialDevice(cable_->ends[end].name, [weak, end]() -> TvxSerialOpen {
      TvxSerialOpen result;
      std::shared_ptr<Cable> cable = weak.lock();
      if (!cable) {
        result.error = vxSerialError(ENOENT);
        return result;
      }
      std::lock_guard lock(cable->mutex);
      EndState& s = cable->ends[end];
      if (s.open || cable->ends[1 - end].pnp) {
        result.error = vxSerialError(EBUSY);
        return result;
      }
      const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      if (wake < 0) {
        result.error = vxSerialError(errno);
        return result;
      }
      s.open = true;
      s.vanished = false;
      s.wake = wake;
      s.dtr = s.rts = false;
      s.wire.clear();
      s.queue.clear();
      s.capacity = 8192;
      s.errors = s.events = 0;
      s.mask = 0;
      s.txPending = false;
      s.dcb = TDCB{};
      result.device = std::make_shared<VirtualEnd>(cable, end, wake);
      return result;
    });
  }
}

TvxNullModem::~TvxNullModem() {
  for (int end = 0; end < 2; ++end) vxRegisterSerialDevice(cable_->ends[end].name, {});
  {
    std::lock_guard lock(cable_->mutex);
    cable_->gone = true;
    cable_->Signal(0);
    cable_->Signal(1);
    cable_->changed.notify_all();
  }
  cable_->clock.join();
}

const std::string& TvxNullModem::Name(int end) const {
  return cable_->ends[end].name;
}

void TvxNullModem::SetPacing(bool on) {
  std::lock_guard lock(cable_->mutex);
  cable_->pacing = on;
}

void TvxNullModem::SetFaults(int fromEnd, const Faults& faults) {
  std::lock_guard lock(cable_->mutex);
  cable_->ends[fromEnd].faults = faults;
  cable_->ends[fromEnd].random.seed(faults.seed);
}

void TvxNullModem::InjectLineError(int end, std::uint32_t ceFlags) {
  std::lock_guard lock(cable_->mutex);
  EndState& s = cable_->ends[end];
  s.errors |= ceFlags;
  s.events |= (ceFlags & CE_BREAK) ? EV_BREAK | EV_ERR : EV_ERR;
  cable_->Signal(end);
  cable_->changed.notify_all();
}

void TvxNullModem::InjectBreak(int end) {
  InjectLineError(end, CE_BREAK);
}

void TvxNullModem::Ring(int end, int ringMs) {
  std::lock_guard lock(cable_->mutex);
  EndState& s = cable_->ends[end];
  s.ringUntil = Clock::now() + std::chrono::milliseconds(ringMs);
  s.events |= EV_RING;
  cable_->Signal(end);
  cable_->changed.notify_all();
}

void TvxNullModem::Vanish(int end) {
  std::lock_guard lock(cable_->mutex);
  cable_->ends[end].vanished = true;
  cable_->Signal(end);
  cable_->changed.notify_all();
}

void TvxNullModem::Feed(int end, const std::string& bytes) {
  std::lock_guard lock(cable_->mutex);
  Clock::time_point now = Clock::now();
  for (char c : bytes) cable_->ends[end].wire.push_back({c, now});
  cable_->Signal(end);
  cable_->changed.notify_all();
}

void TvxNullModem::AttachPnPDevice(int end, const std::string& id) {
  std::lock_guard lock(cable_->mutex);
  EndState& s = cable_->ends[end];
  s.pnp = true;
  s.pnpId = id;
  s.pnpReset = false;
}

bool TvxNullModem::IsOpen(int end) const {
  std::lock_guard lock(cable_->mutex);
  return cable_->ends[end].open;
}

bool TvxNullModem::Dtr(int end) const {
  std::lock_guard lock(cable_->mutex);
  return cable_->ends[end].dtr;
}

bool TvxNullModem::Rts(int end) const {
  std::lock_guard lock(cable_->mutex);
  return cable_->ends[end].rts;
}

TDCB TvxNullModem::State(int end) const {
  std::lock_guard lock(cable_->mutex);
  return cable_->ends[end].dcb;
}

std::string TvxNullModem::Sent(int end) const {
  std::lock_guard lock(cable_->mutex);
  return cable_->ends[end].sent;
}

int TvxNullModem::PnPAnswers() const {
  std::lock_guard lock(cable_->mutex);
  return cable_->pnpAnswers;
}
