/// @file
/// XMODEM blocks: the control bytes, the two checks (an 8-bit sum, CRC-16), framing a block
/// to send and reading blocks off the line byte by byte.
///
/// Thread: plain values and functions; the XMODEM component's thread owns its reader.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxcomm {

namespace vxxmodem {

inline constexpr std::uint8_t kSoh = 0x01;       ///< starts a block of 128 bytes
inline constexpr std::uint8_t kStx = 0x02;       ///< starts a block of 1024 bytes
inline constexpr std::uint8_t kEot = 0x04;       ///< the sender's end of the file
inline constexpr std::uint8_t kAck = 0x06;       ///< the block (or the EOT) arrived
inline constexpr std::uint8_t kNak = 0x15;       ///< send it again; at the start: use the sum
inline constexpr std::uint8_t kCan = 0x18;       ///< two in a row cancel the transfer
inline constexpr std::uint8_t kSub = 0x1A;       ///< pads the last block
inline constexpr std::uint8_t kCrcStart = 'C';   ///< the receiver's start: use CRC-16
inline constexpr std::size_t kShortBlock = 128;  ///< the data of a SOH block
inline constexpr std::size_t kLongBlock = 1024;  ///< the data of an STX block

/// The 8-bit sum of Count bytes.
VXCOMM_EXPORT std::uint8_t Checksum(const std::uint8_t* data, std::size_t count);
/// CRC-16 of Count bytes: polynomial 0x1021, initial value 0, no reflection.
VXCOMM_EXPORT std::uint16_t Crc16(const std::uint8_t* data, std::size_t count);

/// One block as it goes on the line: SOH (BlockSize 128) or STX (1024), Number and its
/// complement, Len bytes of Data padded with Fill (SUB unless told) to BlockSize, then the
/// sum or, with Crc, the CRC-16 high byte first. Len above BlockSize is cut to it.
VXCOMM_EXPORT std::vector<std::uint8_t> FrameBlock(std::uint8_t number, const std::uint8_t* data,
                                                   std::size_t len, std::size_t blockSize, bool crc,
                                                   std::uint8_t fill = kSub);

/// What a byte offered to TBlockReader completed.
enum class TReadEvent : std::uint8_t {
  kNone,      ///< nothing yet (a byte of a block, or one outside any block, ignored)
  kBlock,     ///< a whole block with a sound number and check: Number and Data
  kBadBlock,  ///< a whole block whose number and complement disagree or whose check fails
  kEot,       ///< an EOT outside a block
  kCancel     ///< a second CAN in a row outside a block
};

/// Reads the sender's side of the line: blocks, EOT and CAN CAN. Bytes outside a block
/// that are none of SOH, STX, EOT or CAN are ignored.
class VXCOMM_EXPORT TBlockReader {
 public:
  /// Whether blocks end in CRC-16 (two bytes) or the sum (one).
  void SetCrc(bool value) { crc_ = value; }
  bool Crc() const { return crc_; }
  /// Offers one byte.
  TReadEvent Take(std::uint8_t ch);
  /// True while a block is part-way read.
  bool InBlock() const { return want_ > 0; }
  /// Drops a block part-way read.
  void Reset();
  /// The last whole block's number and data (128 or 1024 bytes).
  std::uint8_t Number() const { return buf_[0]; }
  const std::uint8_t* Data() const { return buf_.data() + 2; }
  std::size_t Size() const { return size_; }

 private:
  TReadEvent Finish();

  bool crc_ = true;
  std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(2 + kLongBlock + 2);
  std::size_t size_ = 0;  ///< the data bytes of the block being read
  std::size_t have_ = 0;  ///< bytes of it read after its SOH or STX
  std::size_t want_ = 0;  ///< bytes it has after its SOH or STX; 0 outside a block
  bool can_ = false;      ///< the last byte outside a block was a CAN
};

}  // namespace vxxmodem

}  // namespace vxcomm
