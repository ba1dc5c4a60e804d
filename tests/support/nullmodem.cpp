#include "support/nullmodem.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>

#include "platform/serialport.h"

namespace {
using Clock = std::chrono::steady_clock;

struct Byte {
  char value;
  Clock::time_point ready;  // when the last bit has arrived
};

struct EndState {
  std::string name;
  bool open = false;
  bool vanished = false;
  TDCB dcb;
  bool dtr = false, rts = false, breakOn = false;
  std::uint32_t mask = 0;
  std::uint64_t generation = 0;
  std::deque<Byte> input;
  std::uint32_t rxLevel = 0;
  std::uint32_t errors = 0;
  std::uint32_t events = 0;  // pending modem, error and break events
  Clock::time_point ringUntil;
  Clock::time_point txBusyUntil;
  bool txPending = false;
  std::uint64_t readAbort = 0;
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

  std::uint32_t Ready(const EndState& e, Clock::time_point now) const {
    std::uint32_t n = 0;
    for (const Byte& b : e.input) {
      if (b.ready > now) break;
      ++n;
    }
    return n;
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
      dst.input.push_back({c, at});
      if (src.faults.duplicateRate > 0 && chance(src.random) < src.faults.duplicateRate)
        dst.input.push_back({c, at});
    }
    src.txBusyUntil = at;
    src.txPending = true;
    changed.notify_all();
  }

  void LinesChanged(int end, bool dtrBefore, bool rtsBefore) {
    EndState& e = ends[end];
    EndState& peer = ends[1 - end];
    if (peer.open) {
      if (dtrBefore != e.dtr) peer.events |= EV_DSR | EV_RLSD;
      if (rtsBefore != e.rts) peer.events |= EV_CTS;
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
            e.input.push_back({c, at});
          } else {
            e.input.push_back({static_cast<char>(c | 0x80), at});
            e.errors |= CE_FRAME;
            e.events |= EV_ERR;
          }
        }
      }
    }
    changed.notify_all();
  }
};

namespace {
class VirtualEnd : public TvxSerialDevice {
 public:
  VirtualEnd(std::shared_ptr<TvxNullModem::Cable> cable, int end)
      : cable_(std::move(cable)), end_(end) {}
  ~VirtualEnd() override { Close(); }

  int SetState(const TDCB& dcb) override {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        dcb.StopBits > 2)
      return EINVAL;
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
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
    return 0;
  }

  int GetState(TDCB& dcb) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
    dcb = Self().dcb;
    return 0;
  }

  int Read(void* buffer, std::uint32_t count, std::uint32_t& done) override {
    done = 0;
    const TCOMMTIMEOUTS t = Timeouts();
    const TReadBudget budget = ReadBudget(t, count);
    const bool immediate = budget.immediate;
    const std::uint64_t total = budget.totalMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
    std::unique_lock lock(cable_->mutex);
    const std::uint64_t abort = Self().readAbort;
    char* out = static_cast<char*>(buffer);
    int error = 0;
    for (;;) {
      if ((error = Check())) break;
      EndState& s = Self();
      Clock::time_point now = Clock::now();
      while (done < count && !s.input.empty() && s.input.front().ready <= now) {
        out[done++] = s.input.front().value;
        s.input.pop_front();
      }
      if (done == count || immediate || s.readAbort != abort) break;
      if (total && now >= deadline) break;
      Clock::time_point until = total ? deadline : Clock::time_point::max();
      if (!s.input.empty()) until = std::min(until, s.input.front().ready);
      if (until == Clock::time_point::max())
        cable_->changed.wait(lock);
      else
        cable_->changed.wait_until(lock, until);
    }
    if (!cable_->gone) Self().rxLevel = Self().rxLevel > done ? Self().rxLevel - done : 0;
    return error;
  }

  int Write(const void* buffer, std::uint32_t len, bool wait) override {
    std::unique_lock lock(cable_->mutex);
    if (int e = Check()) return e;
    cable_->Transmit(end_, static_cast<const char*>(buffer), len);
    if (wait && cable_->pacing) {
      Clock::time_point until = Self().txBusyUntil;
      cable_->changed.wait_until(lock, until, [&] { return Check() != 0; });
    }
    return 0;
  }

  int ClearError(std::uint32_t& errors, TCOMSTAT& stat) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
    EndState& s = Self();
    Clock::time_point now = Clock::now();
    errors = s.errors;
    s.errors = 0;
    stat.Flags = 0;
    stat.cbInQue = cable_->Ready(s, now);
    stat.cbOutQue = 0;
    const EndState& peer = cable_->ends[1 - end_];
    for (const Byte& b : peer.input)
      if (b.ready > now) ++stat.cbOutQue;
    if ((s.dcb.Flags & dcbflag::OutxCtsFlow) && !cable_->PeerRts(end_)) stat.Flags |= 0x01;
    if (errors && stat.cbInQue) {
      s.rxLevel = 0;
      cable_->changed.notify_all();
    }
    return 0;
  }

  int SetMask(std::uint32_t mask) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
    Self().mask = mask;
    ++Self().generation;
    cable_->changed.notify_all();
    return 0;
  }

  void Release() override {
    std::lock_guard lock(cable_->mutex);
    release_pending_ = true;
    cable_->changed.notify_all();
  }

  int WaitEvent(std::uint32_t& mask) override {
    mask = 0;
    std::unique_lock lock(cable_->mutex);
    const std::uint64_t generation = Self().generation;
    for (;;) {
      if (int e = Check()) return e;
      EndState& s = Self();
      if (s.generation != generation) return 0;
      if (release_pending_) {
        release_pending_ = false;
        return 0;
      }
      Clock::time_point now = Clock::now();
      std::uint32_t ready = cable_->Ready(s, now);
      std::uint32_t events = s.events;
      if (ready > s.rxLevel) events |= EV_RXCHAR;
      if (s.txPending && now >= s.txBusyUntil) {
        events |= EV_TXEMPTY;
        s.txPending = false;
      }
      s.events = 0;
      events &= s.mask;
      if (events) {
        if (events & EV_RXCHAR) s.rxLevel = ready;
        mask = events;
        return 0;
      }
      Clock::time_point until = Clock::time_point::max();
      if (ready < s.input.size()) until = s.input[ready].ready;
      if (s.txPending) until = std::min(until, s.txBusyUntil);
      if (until == Clock::time_point::max())
        cable_->changed.wait(lock);
      else
        cable_->changed.wait_until(lock, until);
    }
  }

  int ModemStatus(std::uint32_t& status) override {
    std::lock_guard lock(cable_->mutex);
    status = 0;
    if (int e = Check()) return e;
    if (cable_->PeerRts(end_)) status |= MS_CTS_ON;
    if (cable_->PeerDtr(end_)) status |= MS_DSR_ON | MS_RLSD_ON;
    if (Clock::now() < Self().ringUntil) status |= MS_RING_ON;
    return 0;
  }

  int Escape(int function) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
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
        }
        s.breakOn = on;
        break;
      }
      default:
        return EINVAL;
    }
    cable_->LinesChanged(end_, dtr, rts);
    return 0;
  }

  int Purge(std::uint32_t flags) override {
    std::lock_guard lock(cable_->mutex);
    if (int e = Check()) return e;
    EndState& s = Self();
    if (flags & PURGE_RXCLEAR) {
      s.input.clear();
      s.rxLevel = 0;
    }
    if (flags & PURGE_RXABORT) ++s.readAbort;
    cable_->changed.notify_all();
    return 0;
  }

  void Close() override {
    std::lock_guard lock(cable_->mutex);
    if (closed_) return;
    closed_ = true;
    EndState& s = Self();
    if (cable_->gone) return;
    bool dtr = s.dtr, rts = s.rts;
    s.open = false;
    s.dtr = s.rts = false;
    s.input.clear();
    ++s.generation;
    cable_->LinesChanged(end_, dtr, rts);
  }

 private:
  EndState& Self() { return cable_->ends[end_]; }
  // The error of any call now: closed, vanished or the cable removed.
  int Check() {
    if (closed_) return EBADF;
    if (cable_->gone || Self().vanished) return EIO;
    return 0;
  }

  std::shared_ptr<TvxNullModem::Cable> cable_;
  const int end_;
  bool closed_ = false;           // guarded by the cable's mutex
  bool release_pending_ = false;  // guarded by the cable's mutex
  bool applied_ = false;
};
}  // namespace

TvxNullModem::TvxNullModem(const std::string& nameA, const std::string& nameB)
    : cable_(std::make_shared<Cable>()) {
  cable_->ends[0].name = nameA;
  cable_->ends[1].name = nameB;
  for (int end = 0; end < 2; ++end) {
    std::weak_ptr<Cable> weak = cable_;
    vxRegisterSerialDevice(cable_->ends[end].name,
                           [weak, end](int& error) -> std::shared_ptr<TvxSerialDevice> {
                             std::shared_ptr<Cable> cable = weak.lock();
                             if (!cable) {
                               error = ENOENT;
                               return nullptr;
                             }
                             std::lock_guard lock(cable->mutex);
                             EndState& s = cable->ends[end];
                             if (s.open || cable->ends[1 - end].pnp) {
                               error = EBUSY;
                               return nullptr;
                             }
                             s.open = true;
                             s.vanished = false;
                             s.dtr = s.rts = false;
                             s.input.clear();
                             s.rxLevel = 0;
                             s.errors = s.events = 0;
                             s.mask = 0;
                             s.txPending = false;
                             s.dcb = TDCB{};
                             return std::make_shared<VirtualEnd>(cable, end);
                           });
  }
}

TvxNullModem::~TvxNullModem() {
  for (int end = 0; end < 2; ++end) vxRegisterSerialDevice(cable_->ends[end].name, {});
  std::lock_guard lock(cable_->mutex);
  cable_->gone = true;
  cable_->changed.notify_all();
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
  cable_->changed.notify_all();
}

void TvxNullModem::Vanish(int end) {
  std::lock_guard lock(cable_->mutex);
  cable_->ends[end].vanished = true;
  cable_->changed.notify_all();
}

void TvxNullModem::Feed(int end, const std::string& bytes) {
  std::lock_guard lock(cable_->mutex);
  Clock::time_point now = Clock::now();
  for (char c : bytes) cable_->ends[end].input.push_back({c, now});
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
