/// @file
/// The packets a receiver with a sliding window holds after a missing one: where a sequence
/// number lies against the packet expected (that packet, ahead of it within the window, in
/// the window before it, or nowhere), and the verified packets ahead of the gap, kept until
/// the gap is filled so they are acted on in order.
///
/// Thread: none; the Kermit component's thread. Memory: Allocate sizes every slot once; Keep
/// never allocates.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxcomm {

namespace vxkermit {

/// Where a received sequence number lies against the one expected.
enum class TRecvPlace {
  kExpected,  ///< the packet expected
  kAhead,     ///< after it, within the window: kept until the gap before it is filled
  kPrevious,  ///< within the window before the expected one: already acted on
  kOutside    ///< anything else: ignored
};

/// The receiver's window; see the file description. Owned by its component; no lock.
class VXCOMM_EXPORT TRecvWindow {
 public:
  /// Makes room for Slots packets (brought into 1..31) of up to ImageSize bytes each and
  /// holds nothing.
  void Allocate(int slots, std::size_t imageSize);
  /// Holds nothing; the room stays.
  void Clear();
  int Capacity() const { return capacity_; }
  /// Where Seq (0..63) lies when Expected (0..63) is the packet expected.
  TRecvPlace Place(std::uint8_t seq, std::uint8_t expected) const;
  /// Whether the packet Seq, ahead of Expected, is held.
  bool Holds(std::uint8_t seq, std::uint8_t expected) const;
  /// Holds a packet ahead of Expected: its first Size bytes (MARK through the data field),
  /// with where its data field lies. False, holding nothing, when Seq is not ahead or Size
  /// exceeds the slot.
  bool Keep(std::uint8_t seq, std::uint8_t expected, const std::uint8_t* image, std::size_t size,
            std::size_t dataPos, std::size_t dataLen);
  /// The packet expected was acted on: the window moves on by one (a packet held for it is
  /// dropped).
  void Advance();
  /// Copies the held packet for Expected (the slot at the window's start) into Out (OutSize
  /// bytes) and gives where its data field lies; false when it is not held or does not fit.
  bool TakeExpected(std::uint8_t* out, std::size_t outSize, std::size_t& dataPos,
                    std::size_t& dataLen) const;
  /// The number of packets held.
  int HeldCount() const { return held_; }
  /// The bytes reserved for the slots (fixed after Allocate).
  std::size_t ReservedBytes() const { return storage_.size(); }

 private:
  struct Slot {
    std::size_t size = 0;
    std::size_t data_pos = 0;
    std::size_t data_len = 0;
    bool held = false;
  };
  std::size_t Index(int offset) const {
    return (head_ + static_cast<std::size_t>(offset)) % static_cast<std::size_t>(capacity_);
  }

  std::vector<std::uint8_t> storage_;
  std::vector<Slot> slots_;
  std::size_t image_size_ = 0;
  std::size_t head_ = 0;  ///< the slot of the packet expected
  int capacity_ = 0;
  int held_ = 0;
};

}  // namespace vxkermit

}  // namespace vxcomm
