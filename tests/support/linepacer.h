// The timing of one direction of a serial line seen through USB serial adapters: bytes
// cross the wire one after the other at the line's byte rate, and the receiving adapter
// hands them to its host in full USB packets at once, or, for what is left over, only when
// its latency timer fires. A program on such a line gets a short packet (an acknowledgement,
// the tail of a long one) late by up to the latency timer, however fast the line.
//
// Pure bookkeeping on times the caller gives: the relay of FaultyLine asks it how much it
// may take from the writer, tells it what it took, and asks what the reader may have now.
// Thread: owned by the one thread that relays its direction.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

struct LinePacing {
  // Bytes the wire carries per second: the baud rate over ten for 8N1. 0: no pacing at all,
  // every byte reaches the reader as soon as the relay has it.
  double bytesPerSecond = 0;
  // The receiving adapter's latency timer.
  std::chrono::microseconds latency{16000};
  // The data bytes of one full USB packet from the adapter (64 less two status bytes).
  std::size_t usbPacket = 62;

  // 8N1 at Baud through adapters with the given latency timer.
  static LinePacing Adapter(int baud, std::chrono::microseconds latency) {
    return {baud / 10.0, latency, 62};
  }
};

class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LinePacer(const LinePacing& pacing) : pacing_(pacing) {}

  bool Paced() const { return pacing_.bytesPerSecond > 0; }
  // How many bytes the relay may take from the writer at Now: what the wire can start on
  // within the next millisecond, at least one byte when it is free; 0 while it is busy.
  std::size_t Budget(Clock::time_point now, std::size_t most) const;
  // The relay took Bytes (as they go on the wire, after any damage) at Now.
  void Carry(const std::string& bytes, Clock::time_point now);
  // Appends to Out what the reader has by Now: full USB packets as soon as the wire has
  // brought them, the rest when the latency timer fires.
  void Release(Clock::time_point now, std::string& out);
  // When something next changes after a Release at Now: the wire frees up for more, a USB
  // packet fills or the latency timer fires with bytes waiting; Clock::time_point::max()
  // when nothing waits.
  Clock::time_point NextEvent(Clock::time_point now) const;
  // Bytes taken from the writer and not yet handed to the reader.
  std::size_t Held() const { return wire_.size(); }

 private:
  // Bytes of the wire's queue that have reached the adapter by Now.
  std::size_t Arrived(Clock::time_point now) const;
  Clock::duration ByteTime(double bytes) const;

  LinePacing pacing_;
  std::string wire_;               // taken from the writer, not yet handed to the reader
  Clock::time_point wire_free_{};  // when the last byte of wire_ has crossed
  Clock::time_point next_tick_{};  // when the latency timer fires next (it fires on
                                   // nothing, too, and keeps its rhythm)
};
