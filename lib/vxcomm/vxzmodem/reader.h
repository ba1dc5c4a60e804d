/// @file
/// Reading ZMODEM frames off the line byte by byte: headers in any of their three forms,
/// data subpackets (once the component says one follows its header), and the peer's cancel
/// (five ZDLE in a row). Nothing is taken as sound unless its CRC is.
///
/// Thread: plain values; the ZMODEM component's thread owns its reader.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vxcomm/vxzmodem/frame.h"

namespace vxcomm {

namespace vxzmodem {

/// What a byte offered to TFrameReader completed.
enum class TFrameEvent : std::uint8_t {
  kNone,          ///< nothing yet
  kHeader,        ///< a header with a sound CRC: Header and Form
  kBadHeader,     ///< a header begun (ZPAD ZDLE and its form) that is damaged
  kSubpacket,     ///< a subpacket with a sound CRC: Data and End
  kBadSubpacket,  ///< a subpacket that is damaged, has a bad escape or is too long
  kCancel         ///< the fifth ZDLE in a row
};

/// Reads frames. It hunts for a header until told with ExpectSubpacket that a subpacket
/// follows; after a subpacket ended by kZCrcG or kZCrcQ it reads the next one, after kZCrcE,
/// kZCrcW or any damage it hunts for a header again. Raw XON and XOFF (either form) are flow
/// control and dropped everywhere. What is not part of a header while it hunts is ignored.
class VXCOMM_EXPORT TFrameReader {
 public:
  TFrameReader();
  /// Offers one byte.
  TFrameEvent Take(std::uint8_t ch);
  /// A subpacket follows the header just read, with the CRC its form implies (CRC-32 after
  /// a kBin32 header, else CRC-16).
  void ExpectSubpacket();
  /// Drops anything part-way read and hunts for a header.
  void Reset();
  /// True while a subpacket is expected or being read.
  bool InData() const { return mode_ == TMode::kData || mode_ == TMode::kCrc; }

  /// The last sound header and the form it came in.
  const THeader& Header() const { return header_; }
  THeaderForm Form() const { return form_; }
  /// The last sound subpacket's data and end (kZCrcE, kZCrcG, kZCrcQ or kZCrcW).
  const std::vector<std::uint8_t>& Data() const { return data_; }
  std::uint8_t End() const { return end_; }

 private:
  enum class TMode : std::uint8_t { kHunt, kPad, kZDle, kHexBody, kBinBody, kData, kCrc };
  enum class TByte : std::uint8_t { kNone, kByte, kEnd, kBad };

  TByte Unescape(std::uint8_t ch, std::uint8_t& out);
  TFrameEvent TakeHunting(std::uint8_t ch);
  TFrameEvent TakeHex(std::uint8_t ch);
  TFrameEvent TakeBinary(std::uint8_t ch);
  TFrameEvent TakeData(std::uint8_t ch);
  TFrameEvent FinishHeader();
  TFrameEvent FinishSubpacket();
  TFrameEvent Bad(TFrameEvent event);

  TMode mode_ = TMode::kHunt;
  int cans_ = 0;                          ///< ZDLE bytes in a row, the one offered included
  int run_before_ = 0;                    ///< ZDLE bytes in a row before the one offered
  bool escaped_ = false;                  ///< the last byte was a ZDLE that escapes the next one
  THeaderForm form_ = THeaderForm::kHex;  ///< of the header being read or last read
  THeader header_;
  std::uint8_t raw_[9] = {};  ///< the header being read: type, data, CRC
  std::size_t have_ = 0;      ///< bytes of raw_ (hex: digits) read
  std::size_t want_ = 0;      ///< bytes of raw_ (hex: digits) a whole header has
  bool data_crc32_ = false;   ///< the subpacket being read ends in CRC-32
  int hex_tail_ = 0;          ///< CR and LF of a hex header still to skip before data
  std::vector<std::uint8_t> data_;
  bool taken_ = false;  ///< data_ holds a whole subpacket already reported
  std::uint8_t crc_[4] = {};
  std::uint8_t end_ = 0;
};

}  // namespace vxzmodem

}  // namespace vxcomm
