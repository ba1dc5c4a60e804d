#include "support/linepacer.h"

#include <algorithm>
#include <cmath>

namespace {
// The relay may take from the writer what the wire starts on within this time, so that a
// writer that keeps the wire fed sees no gaps from the relay's own wake-ups.
constexpr std::chrono::milliseconds kLead{1};
}  // namespace

LinePacer::Clock::duration LinePacer::ByteTime(double bytes) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(bytes / pacing_.bytesPerSecond));
}

std::size_t LinePacer::Budget(Clock::time_point now, std::size_t most) const {
  if (!Paced()) return most;
  const Clock::time_point horizon = now + kLead;
  if (wire_free_ >= horizon) return 0;
  const double seconds = std::chrono::duration<double>(horizon - std::max(now, wire_free_)).count();
  const auto bytes = static_cast<std::size_t>(seconds * pacing_.bytesPerSecond);
  return std::clamp<std::size_t>(bytes, 1, most);
}

void LinePacer::Carry(const std::string& bytes, Clock::time_point now) {
  if (bytes.empty()) return;
  if (Paced()) wire_free_ = std::max(now, wire_free_) + ByteTime(static_cast<double>(bytes.size()));
  wire_ += bytes;
}

std::size_t LinePacer::Arrived(Clock::time_point now) const {
  if (now >= wire_free_) return wire_.size();
  const double inFlight =
      std::ceil(std::chrono::duration<double>(wire_free_ - now).count() * pacing_.bytesPerSecond);
  const auto waiting = static_cast<std::size_t>(inFlight);
  return waiting >= wire_.size() ? 0 : wire_.size() - waiting;
}

void LinePacer::Release(Clock::time_point now, std::string& out) {
  if (!Paced()) {
    out += wire_;
    wire_.clear();
    return;
  }
  std::size_t give = 0;
  if (now >= next_tick_) {
    // The timer fired at its last tick up to now and handed over what had arrived by then.
    const auto tick = next_tick_ + (now - next_tick_) / pacing_.latency * pacing_.latency;
    give = Arrived(tick);
    next_tick_ = tick + pacing_.latency;
  }
  // Full USB packets go as soon as they are full, and each one sent restarts the timer.
  const std::size_t full = (Arrived(now) - give) / pacing_.usbPacket * pacing_.usbPacket;
  if (full > 0) {
    give += full;
    next_tick_ = now + pacing_.latency;
  }
  out.append(wire_, 0, give);
  wire_.erase(0, give);
}

LinePacer::Clock::time_point LinePacer::NextEvent(Clock::time_point now) const {
  if (!Paced()) return Clock::time_point::max();
  Clock::time_point next = Clock::time_point::max();
  // The wire frees up for more from the writer.
  if (wire_free_ - kLead > now) next = wire_free_ - kLead;
  if (wire_.empty()) return next;
  const std::size_t size = wire_.size();
  const std::size_t arrived = Arrived(now);
  // The next USB packet fills...
  const std::size_t full = (arrived / pacing_.usbPacket + 1) * pacing_.usbPacket;
  if (full <= size) next = std::min(next, wire_free_ - ByteTime(static_cast<double>(size - full)));
  // ...or the timer fires on what has arrived; with nothing arrived yet, the first byte's
  // arrival is looked at first.
  const Clock::time_point first = wire_free_ - ByteTime(static_cast<double>(size - 1));
  next = std::min(next, arrived > 0 ? next_tick_ : std::max(next_tick_, first));
  return std::max(next, now);
}
