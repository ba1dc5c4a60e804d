#include "support/faultyline.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

constexpr std::size_t kReadChunk = 4096;
// Past this many bytes waiting for a slow reader the relay stops reading the writer, so
// the writer feels the back-pressure a real line gives.
constexpr std::size_t kMaxPending = 64 * 1024;
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// The faults of one direction. Each fault keeps the number of clean bytes before its next
// hit, drawn from a geometric distribution: the same as a coin per byte, but the relay
// copies the clean stretches whole.
class FaultDrawer {
 public:
  FaultDrawer(const FaultRates& rates, std::uint64_t seed)
      : gen_(seed), p_{rates.flip, rates.drop, rates.duplicate} {
    for (int i = 0; i < 3; ++i) gap_[i] = Draw(p_[i]);
  }

  // Damages In into Out and adds what it did to Counts.
  template <typename Counters>
  void Apply(const char* in, std::size_t n, std::string& out, Counters& counts) {
    std::uint64_t flips = 0, drops = 0, dups = 0;
    std::size_t i = 0;
    while (i < n) {
      const std::uint64_t clean = std::min({gap_[0], gap_[1], gap_[2]});
      const std::size_t run = static_cast<std::size_t>(std::min<std::uint64_t>(clean, n - i));
      out.append(in + i, run);
      for (auto& g : gap_)
        if (g != kNever) g -= run;
      i += run;
      if (i == n) break;
      // Byte I is hit by at least one fault.
      const bool flip = Hit(0), drop = Hit(1), dup = Hit(2);
      char c = in[i++];
      if (drop) {
        ++drops;
        continue;
      }
      if (flip) {
        c = static_cast<char>(c ^ (1u << (gen_() % 8)));
        ++flips;
      }
      out += c;
      if (dup) {
        out += c;
        ++dups;
      }
    }
    counts.flipped += flips;
    counts.dropped += drops;
    counts.duplicated += dups;
  }

 private:
  std::uint64_t Draw(double p) {
    if (p <= 0) return kNever;
    if (p >= 1) return 0;
    return std::geometric_distribution<std::uint64_t>(p)(gen_);
  }
  // True when fault K hits the current byte; moves its gap on by one byte either way.
  bool Hit(int k) {
    if (gap_[k] == kNever) return false;
    if (gap_[k] > 0) {
      --gap_[k];
      return false;
    }
    gap_[k] = Draw(p_[k]);
    return true;
  }

  std::mt19937_64 gen_;
  double p_[3];
  std::uint64_t gap_[3];
};

void CheckRates(const FaultRates& r) {
  for (double p : {r.flip, r.drop, r.duplicate})
    if (!(p >= 0 && p <= 1)) throw std::runtime_error("faultyline: a fault rate is outside [0, 1]");
}

}  // namespace

FaultyLine::Pty FaultyLine::OpenPty() {
  Pty pty;
  char name[256];
  if (openpty(&pty.master, &pty.slaveKeeper, name, nullptr, nullptr) != 0)
    throw std::runtime_error(std::string("faultyline: openpty: ") + std::strerror(errno));
  pty.slavePath = name;
  struct termios t;
  if (tcgetattr(pty.slaveKeeper, &t) == 0) {
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(pty.slaveKeeper, TCSANOW, &t);
  }
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  // Packet mode: every read starts with a status byte, which tells the relay when the
  // program on the slave flushes its input.
  int on = 1;
  if (ioctl(pty.master, TIOCPKT, &on) != 0) {
    ClosePty(pty);
    throw std::runtime_error(std::string("faultyline: TIOCPKT: ") + std::strerror(errno));
  }
  // The peers run as child processes; they must not inherit the line's own ends.
  fcntl(pty.master, F_SETFD, FD_CLOEXEC);
  fcntl(pty.slaveKeeper, F_SETFD, FD_CLOEXEC);
  return pty;
}

void FaultyLine::ClosePty(Pty& pty) {
  if (pty.master >= 0) ::close(pty.master);
  if (pty.slaveKeeper >= 0) ::close(pty.slaveKeeper);
  pty.master = pty.slaveKeeper = -1;
}

FaultyLine::FaultyLine(const FaultRates& rates, std::uint64_t seed)
    : FaultyLine(rates, rates, seed) {}

FaultyLine::FaultyLine(const FaultRates& rates, const LinePacing& pacing, std::uint64_t seed)
    : FaultyLine(rates, rates, seed, pacing) {}

FaultyLine::FaultyLine(const FaultRates& aToB, const FaultRates& bToA, std::uint64_t seed,
                       const LinePacing& pacing)
    : rates_{aToB, bToA}, pacing_(pacing), seed_(seed) {
  CheckRates(aToB);
  CheckRates(bToA);
  try {
    a_ = OpenPty();
    b_ = OpenPty();
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) throw std::runtime_error("faultyline: eventfd failed");
    running_ = true;
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    running_ = false;
    ClosePty(a_);
    ClosePty(b_);
    if (wake_ >= 0) ::close(wake_);
    throw;
  }
  std::fprintf(stderr,
               "faultyline: seed %llu (VXCOMM_FAULT_SEED), A->B flip %g drop %g duplicate %g, "
               "B->A flip %g drop %g duplicate %g\n",
               static_cast<unsigned long long>(seed_), aToB.flip, aToB.drop, aToB.duplicate,
               bToA.flip, bToA.drop, bToA.duplicate);
}

FaultyLine::~FaultyLine() {
  Stop();
  ClosePty(a_);
  ClosePty(b_);
  ::close(wake_);
}

void FaultyLine::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
      // The counter cannot overflow from one write; a failure leaves nothing to wake.
    }
    thread_.join();
  }
  running_ = false;
}

int FaultyLine::InputFlushes(End end) const {
  std::lock_guard<std::mutex> lock(flush_mutex_);
  return flushes_[end];
}

bool FaultyLine::WaitForInputFlush(End end, int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(flush_mutex_);
  return flushed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return flushes_[end] >= count; });
}

std::string FaultyLine::Error() const {
  return failed_.load() ? error_ : std::string();
}

FaultCounts FaultyLine::Counts(Direction d) const {
  const Counters& c = counts_[d];
  FaultCounts out;
  out.bytesIn = c.bytesIn.load();
  out.bytesOut = c.bytesOut.load();
  out.flipped = c.flipped.load();
  out.dropped = c.dropped.load();
  out.duplicated = c.duplicated.load();
  return out;
}

std::string FaultyLine::Describe() const {
  std::string text = "seed " + std::to_string(seed_);
  for (Direction d : {AToB, BToA}) {
    const FaultCounts c = Counts(d);
    text += std::string(d == AToB ? "; A->B " : "; B->A ") + std::to_string(c.bytesIn) +
            " bytes: " + std::to_string(c.flipped) + " flipped, " + std::to_string(c.dropped) +
            " dropped, " + std::to_string(c.duplicated) + " duplicated";
  }
  return text;
}

std::uint64_t FaultyLine::SeedFromEnvironment() {
  if (const char* s = std::getenv("VXCOMM_FAULT_SEED")) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s, &end, 0);
    if (end != s && *end == '\0') return v;
    std::fprintf(stderr, "faultyline: VXCOMM_FAULT_SEED=%s is no number; a random seed is used\n",
                 s);
  }
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

void FaultyLine::Run() {
  using Clock = LinePacer::Clock;
  // Direction D reads from from[D] and writes to to[D].
  const int from[2] = {a_.master, b_.master};
  const int to[2] = {b_.master, a_.master};
  FaultDrawer drawers[2] = {FaultDrawer(rates_[0], seed_ * 2 + 1),
                            FaultDrawer(rates_[1], seed_ * 2 + 2)};
  LinePacer pacers[2] = {LinePacer(pacing_), LinePacer(pacing_)};
  std::string pending[2];
  std::size_t sent[2] = {0, 0};  // the part of pending[D] already written
  std::string fresh;
  char buf[kReadChunk];

  auto fail = [&](const char* what) {
    error_ = std::string("faultyline: ") + what + ": " + std::strerror(errno);
    failed_ = true;
  };
  // Hands the reader of direction D what its pacer lets through by now; false on an error
  // the relay cannot go on from.
  auto deliver = [&](int d) {
    pacers[d].Release(Clock::now(), pending[d]);
    while (sent[d] < pending[d].size()) {
      const ssize_t n = ::write(to[d], pending[d].data() + sent[d], pending[d].size() - sent[d]);
      if (n > 0) {
        sent[d] += static_cast<std::size_t>(n);
        counts_[d].bytesOut += static_cast<std::uint64_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        fail("write");
        return false;
      }
    }
    if (sent[d] == pending[d].size()) {
      pending[d].clear();
      sent[d] = 0;
    } else if (sent[d] > kMaxPending) {
      pending[d].erase(0, sent[d]);
      sent[d] = 0;
    }
    return true;
  };

  while (!failed_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point wake = Clock::time_point::max();
    struct pollfd fds[3] = {{wake_, POLLIN, 0}, {a_.master, 0, 0}, {b_.master, 0, 0}};
    for (int d = 0; d < 2; ++d) {
      const std::size_t held = pending[d].size() - sent[d] + pacers[d].Held();
      if (held < kMaxPending && pacers[d].Budget(now, 1) > 0) fds[1 + d].events |= POLLIN;
      // The writing end of direction D is the reading end of the other direction.
      if (sent[d] < pending[d].size()) fds[1 + (1 - d)].events |= POLLOUT;
      wake = std::min(wake, pacers[d].NextEvent(now));
    }
    struct timespec wait;
    const struct timespec* timeout = nullptr;
    if (wake != Clock::time_point::max()) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
      wait.tv_sec = static_cast<time_t>(ns / 1000000000);
      wait.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout = &wait;
    }
    if (::ppoll(fds, 3, timeout, nullptr) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
      break;
    }
    if (fds[0].revents) break;
    for (int d = 0; d < 2 && !failed_; ++d) {
      if (fds[1 + d].revents & (POLLIN | POLLHUP | POLLERR)) {
        // Packet mode puts a status byte before the data.
        const std::size_t budget = pacers[d].Budget(Clock::now(), sizeof buf - 1);
        const ssize_t n = ::read(from[d], buf, budget + 1);
        if (n > 0 && buf[0] == TIOCPKT_DATA) {
          fresh.clear();
          drawers[d].Apply(buf + 1, static_cast<std::size_t>(n - 1), fresh, counts_[d]);
          pacers[d].Carry(fresh, Clock::now());
          // Counted after the faults, so bytesIn - dropped + duplicated is what will arrive.
          counts_[d].bytesIn += static_cast<std::uint64_t>(n - 1);
        } else if (n > 0) {
          // A status byte: the end direction D reads from is End D.
          if (buf[0] & TIOCPKT_FLUSHREAD) {
            {
              std::lock_guard<std::mutex> lock(flush_mutex_);
              ++flushes_[d];
            }
            flushed_.notify_all();
          }
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          // The line keeps each slave open, so a master should never see an end.
          if (n == 0) errno = EIO;
          fail("read");
          break;
        }
      }
      // Straight on to the reader: no second poll round per byte that arrives.
      if (!deliver(d)) break;
    }
  }
  running_ = false;
}
