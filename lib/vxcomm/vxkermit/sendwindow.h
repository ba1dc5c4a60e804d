/// @file
/// The packets a sender with a sliding window has in flight: each kept as it was framed, so
/// that a NAK or a time-out repeats exactly those bytes, with whether it was acknowledged and
/// how often it was repeated. Packets are numbered by the sender's running count (not reduced
/// modulo 64); a received sequence number maps back to one of them because a window never
/// holds more than 31.
///
/// Thread: none; the Kermit component's thread. Memory: Allocate sizes every slot once; Push
/// never allocates.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxcomm {

namespace vxkermit {

/// The largest window Kermit allows: sequence numbers stay unambiguous modulo 64.
inline constexpr int kMaxWindow = 31;

/// The sender's window; see the file description. Owned by its component; no lock.
class VXCOMM_EXPORT TSendWindow {
 public:
  /// Makes room for Slots packets (brought into 1..kMaxWindow) of up to ImageSize bytes each
  /// and empties the window.
  void Allocate(int slots, std::size_t imageSize);
  /// Empties the window; the room stays.
  void Clear();
  /// The number of slots.
  int Capacity() const { return capacity_; }
  /// The packets kept: sent and not yet slid over.
  int Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  bool Full() const { return count_ >= capacity_; }
  /// The running number of the oldest packet kept; meaningless when Empty.
  int Base() const { return base_; }
  /// Keeps the packet numbered Number (Size bytes as framed, carrying Field data-field
  /// characters), sent now, after RepeatsBefore repeats of the session. False, keeping
  /// nothing, when the window is full, when Size exceeds the slot, or when Number does not
  /// follow the last packet kept.
  bool Push(int number, const std::uint8_t* bytes, std::size_t size, std::size_t field,
            int repeatsBefore = 0);
  /// The running number of the kept packet whose sequence number is Seq (0..63); -1 when
  /// none is.
  int Find(std::uint8_t seq) const;
  /// Marks the kept packet Number acknowledged. False when it is not kept or was already
  /// acknowledged.
  bool Acknowledge(int number);
  /// Drops the acknowledged packets at the start of the window; returns how many.
  int Slide();
  /// Whether the kept packet Number was acknowledged (false when not kept).
  bool Acknowledged(int number) const;
  /// The oldest kept packet not yet acknowledged; -1 when none is.
  int OldestUnacknowledged() const;
  /// The kept packet's bytes as framed, their count, its data-field characters and its
  /// repeats so far. Number must be kept.
  const std::uint8_t* Bytes(int number) const;
  std::size_t Size(int number) const;
  std::size_t Field(int number) const;
  int Repeats(int number) const;
  /// Counts one more repeat of the kept packet Number.
  void Repeated(int number);
  /// The repeats of the oldest packet not yet acknowledged; 0 when none is.
  int OldestRepeats() const;
  /// When the kept packet Number first went out (Push), and the count of repeats its sender
  /// had made by then. Number must be kept.
  std::chrono::steady_clock::time_point SentAt(int number) const;
  int RepeatsBefore(int number) const;
  /// The bytes reserved for the slots (fixed after Allocate).
  std::size_t ReservedBytes() const { return storage_.size(); }

 private:
  struct Slot {
    std::size_t size = 0;
    std::size_t field = 0;
    int repeats = 0;
    bool acked = false;
    std::chrono::steady_clock::time_point sent_at{};
    int repeats_before = 0;
  };
  bool Kept(int number) const { return count_ > 0 && number >= base_ && number < base_ + count_; }
  std::size_t Index(int number) const { return static_cast<std::size_t>(number % capacity_); }

  std::vector<std::uint8_t> storage_;
  std::vector<Slot> slots_;
  std::size_t image_size_ = 0;
  int capacity_ = 0;
  int base_ = 0;
  int count_ = 0;
};

}  // namespace vxkermit

}  // namespace vxcomm
