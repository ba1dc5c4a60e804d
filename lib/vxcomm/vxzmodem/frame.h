/// @file
/// ZMODEM frames as they go on the line: the control bytes, the frame types and flags, the
/// four-byte header in its hex, binary CRC-16 and binary CRC-32 forms, data subpackets with
/// their end and CRC, and the ZDLE escaping of everything binary. Writing only: reading is
/// TFrameReader's (reader.h).
///
/// Thread: plain values and functions; an encoder belongs to the thread of the component
/// that owns it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxcomm {

namespace vxzmodem {

inline constexpr std::uint8_t kZPad = '*';    ///< starts every header
inline constexpr std::uint8_t kZDle = 0x18;   ///< the escape byte (CAN); five in a row cancel
inline constexpr std::uint8_t kZBin = 'A';    ///< a binary header with CRC-16
inline constexpr std::uint8_t kZHex = 'B';    ///< a header in hex digits with CRC-16
inline constexpr std::uint8_t kZBin32 = 'C';  ///< a binary header with CRC-32
inline constexpr std::uint8_t kZCrcE = 'h';   ///< subpacket end: a header follows, no answer
inline constexpr std::uint8_t kZCrcG = 'i';   ///< subpacket end: more data follows, no answer
inline constexpr std::uint8_t kZCrcQ = 'j';   ///< subpacket end: more data follows, ZACK wanted
inline constexpr std::uint8_t kZCrcW = 'k';   ///< subpacket end: a header follows, ZACK wanted
inline constexpr std::uint8_t kZRub0 = 'l';   ///< escaped 0x7F
inline constexpr std::uint8_t kZRub1 = 'm';   ///< escaped 0xFF
inline constexpr std::uint8_t kXon = 0x11;    ///< flow control; never data on the line
inline constexpr std::uint8_t kXoff = 0x13;   ///< flow control; never data on the line
inline constexpr std::size_t kMaxSubpacket = 8192;  ///< the most data one subpacket carries

/// Frame types (the first byte of a header).
enum TFrameType : std::uint8_t {
  ZRQINIT = 0,      ///< the sender asks the receiver for its ZRINIT
  ZRINIT = 1,       ///< the receiver is ready; F0 its capabilities, P0-P1 its buffer size
  ZSINIT = 2,       ///< the sender's options (F0) and attention string (a subpacket)
  ZACK = 3,         ///< acknowledgement; P0-P3 the receiver's position
  ZFILE = 4,        ///< a file's name, length and date follow in a subpacket
  ZSKIP = 5,        ///< the receiver skips the file
  ZNAK = 6,         ///< the last header was damaged
  ZABORT = 7,       ///< the receiver ends the session
  ZFIN = 8,         ///< the end of the session
  ZRPOS = 9,        ///< the receiver wants the data from P0-P3 on
  ZDATA = 10,       ///< data subpackets from position P0-P3 follow
  ZEOF = 11,        ///< the file ends at P0-P3
  ZFERR = 12,       ///< the receiver met a file error
  ZCRC = 13,        ///< a request for, or the answer of, a file's CRC
  ZCHALLENGE = 14,  ///< the receiver asks the sender to echo P0-P3
  ZCOMPL = 15,      ///< a command completed
  ZCAN = 16,        ///< the other side cancelled
  ZFREECNT = 17,    ///< a request for the receiver's free space
  ZCOMMAND = 18,    ///< a command for the receiver to run
  ZSTDERR = 19      ///< text for the receiver's error output
};

/// ZRINIT capabilities (F0).
inline constexpr std::uint8_t kCanFdx = 0x01;   ///< full duplex
inline constexpr std::uint8_t kCanOvio = 0x02;  ///< receives while it writes to disk
inline constexpr std::uint8_t kCanFc32 = 0x20;  ///< takes CRC-32 frames
inline constexpr std::uint8_t kEscCtl = 0x40;   ///< wants every control character escaped
/// ZSINIT option (F0): the sender wants every control character escaped.
inline constexpr std::uint8_t kTEscCtl = 0x40;
/// ZFILE conversion (F0): binary, as it is.
inline constexpr std::uint8_t kZcBin = 1;
/// ZFILE conversion (F0): the receiver resumes what it holds of the file.
inline constexpr std::uint8_t kZcResume = 3;

/// The three forms of a header on the line.
enum class THeaderForm : std::uint8_t { kHex, kBin16, kBin32 };

/// A header: the type and four bytes, which are P0..P3 (a position, low byte first) or,
/// read from the other end, F3..F0 (flags).
struct VXCOMM_EXPORT THeader {
  std::uint8_t type = 0;
  std::uint8_t data[4] = {0, 0, 0, 0};

  /// A header of Type carrying Position in P0..P3.
  static THeader At(std::uint8_t type, std::uint32_t position);
  /// A header of Type with flags F0..F3.
  static THeader Flags(std::uint8_t type, std::uint8_t f0, std::uint8_t f1 = 0, std::uint8_t f2 = 0,
                       std::uint8_t f3 = 0);
  /// P0..P3 as a position.
  std::uint32_t Position() const;
  /// Flag byte F0..F3 (F0 is data[3]).
  std::uint8_t F(int index) const { return data[3 - index]; }
};

/// CRC-32 as the IEEE 802.3 frame check: reflected polynomial 0xEDB88320, initial value and
/// final complement 0xFFFFFFFF. Update takes the running value without its complement:
/// start with 0xFFFFFFFF, complement at the end.
VXCOMM_EXPORT std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data,
                                        std::size_t count);
/// CRC-32 of Count bytes (Crc32Update from 0xFFFFFFFF, complemented).
VXCOMM_EXPORT std::uint32_t Crc32(const std::uint8_t* data, std::size_t count);

/// Writes frames with ZDLE escaping: always ZDLE, DLE, XON, XOFF and their forms with the
/// high bit set, and CR (either form) after '@' (either form); with EscapeControls every
/// byte below 0x20 and its high-bit form. It remembers the last byte it wrote, for the CR
/// rule across frames.
class VXCOMM_EXPORT TFrameEncoder {
 public:
  /// Whether every control character is escaped.
  bool EscapeControls() const { return escape_controls_; }
  void SetEscapeControls(bool value) { escape_controls_ = value; }

  /// Appends Header in hex form: ZPAD ZPAD ZDLE 'B', type and data in lower-case hex, the
  /// CRC-16 in hex, CR, LF with the high bit, and XON unless it is a ZACK or ZFIN.
  void Hex(const THeader& header, std::vector<std::uint8_t>& out);
  /// Appends Header in binary form (ZPAD ZDLE 'A' or 'C'), its CRC-16 or CRC-32, escaped.
  void Binary(const THeader& header, bool crc32, std::vector<std::uint8_t>& out);
  /// Appends a subpacket of Count bytes ended by End (kZCrcE, kZCrcG, kZCrcQ or kZCrcW),
  /// with its CRC-16 or CRC-32 over the data and End, escaped; an XON follows a kZCrcW.
  void Subpacket(const std::uint8_t* data, std::size_t count, std::uint8_t end, bool crc32,
                 std::vector<std::uint8_t>& out);

 private:
  void Put(std::uint8_t ch, std::vector<std::uint8_t>& out);
  void Raw(std::uint8_t ch, std::vector<std::uint8_t>& out);

  bool escape_controls_ = false;
  std::uint8_t last_ = 0;  ///< the last byte written
};

}  // namespace vxzmodem

}  // namespace vxcomm
