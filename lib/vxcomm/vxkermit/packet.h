/// @file
/// The Kermit packet on the wire: MARK, LEN, SEQ, TYPE, DATA, CHECK, EOL, and the long packet
/// with its extended header; the three block checks and the framing of an outgoing packet. Plain
/// functions over caller-owned buffers: nothing here allocates, and nothing reads or writes outside
/// the sizes stated.
///
/// Thread: any; nothing here keeps state.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstddef>
#include <cstdint>

namespace vxcomm {

/// The building blocks of TvxKermit: packets, Send-Init blocks, the reply time-out and the
/// length of long data packets.
namespace vxkermit {

/// The MARK that begins every packet: SOH.
inline constexpr std::uint8_t kMark = 1;
/// The end of line: CR ends every outgoing packet.
inline constexpr std::uint8_t kEol = 13;
/// A packet image, MARK to the last check byte (LEN is one character: at most 2 + 223 bytes).
inline constexpr std::size_t kPacketImageSize = 256;
/// Position of LEN in a packet image.
inline constexpr std::size_t kLenPos = 1;
/// Position of SEQ in a packet image.
inline constexpr std::size_t kSeqPos = 2;
/// Position of TYPE in a packet image.
inline constexpr std::size_t kTypePos = 3;
/// Position of the data field in a classic packet image.
inline constexpr std::size_t kDataPos = 4;

/// The character that carries the number X: X + 32.
constexpr std::uint8_t ToChar(unsigned x) {
  return static_cast<std::uint8_t>(x + 32);
}
/// The number a character carries: Ch - 32 (negative for a control character).
constexpr int UnChar(std::uint8_t ch) {
  return static_cast<int>(ch) - 32;
}

/// Number of check characters for a check index (0, 1, 2 for types 1, 2, 3).
constexpr int CheckLength(int checkIndex) {
  return checkIndex + 1;
}
/// Smallest unchar(LEN) that leaves room for SEQ, TYPE and the check characters.
constexpr int MinPacketLen(int checkIndex) {
  return 2 + CheckLength(checkIndex);
}

/// Type 1, 2 or 3 block check over Count bytes starting at Covered.
VXCOMM_EXPORT std::uint16_t BlockCheck(const std::uint8_t* covered, std::size_t count,
                                       int checkIndex);
/// The block check of a classic packet image.
///
/// The image is kPacketImageSize bytes from MARK: the check covers LEN, SEQ, TYPE and the data
/// field, their number taken from the image's own LEN byte. A LEN that promises more than the
/// image holds covers the image only.
VXCOMM_EXPORT std::uint16_t CalcBlockCheck(const std::uint8_t* packet, int checkIndex);
/// Writes the CheckLength(checkIndex) characters of Value at Out, most significant first.
VXCOMM_EXPORT void WriteCheckChars(std::uint16_t value, int checkIndex, std::uint8_t* out);
/// True when the check characters of a packet image, at the place its LEN names, equal the
/// computed ones. False for a LEN below MinPacketLen or one that points past the image (nothing
/// is read past the image).
VXCOMM_EXPORT bool VerifyBlockCheck(const std::uint8_t* packet, int checkIndex);

/// The largest data field that fits one packet whose LEN fits one character and whose image
/// fits kPacketImageSize: used to bound E messages and data fields.
constexpr std::size_t MaxImageData(int checkIndex) {
  return 223 - 2 - static_cast<std::size_t>(CheckLength(checkIndex));
}

/// Builds a classic packet into Out (kPacketImageSize bytes).
///
/// MARK, LEN, SEQ (mod 64), TYPE, Len bytes of Data, the check, EOL. Len is cut to
/// MaxImageData. Returns the bytes to send.
VXCOMM_EXPORT std::size_t FramePacket(std::uint8_t* out, std::uint8_t type, unsigned seq,
                                      const std::uint8_t* data, std::size_t len, int checkIndex);

/// Position of LENX1 in a long packet image.
///
/// Long packets: LEN is tochar(0), and after TYPE come LENX1 and LENX2 (the number of data and
/// check characters, 95 * unchar(LENX1) + unchar(LENX2)) and HCHECK, the type 1 check of LEN
/// through LENX2. The block check covers LEN through the end of the data.
inline constexpr std::size_t kLenx1Pos = 4;
/// Position of LENX2 in a long packet image.
inline constexpr std::size_t kLenx2Pos = 5;
/// Position of HCHECK in a long packet image.
inline constexpr std::size_t kHcheckPos = 6;
/// Position of the data field in a long packet image.
inline constexpr std::size_t kLongDataPos = 7;
/// The largest extended length two length characters can carry: 95 * 94 + 94.
inline constexpr std::size_t kMaxLongLength = 9024;
/// A long packet image at its longest, MARK to the last check byte.
inline constexpr std::size_t kLongImageSize = kLongDataPos + kMaxLongLength;

/// The HCHECK character for the extended header of a packet image (LEN through LENX2).
VXCOMM_EXPORT std::uint8_t HeaderCheck(const std::uint8_t* packet);
/// The extended length announced by the header of a packet image, or -1 for a damaged header.
///
/// The image holds at least kLongDataPos bytes from MARK. -1 when LEN is not tochar(0), LENX1
/// is outside tochar(0..95) (tochar(95), DEL, carries 9025), LENX2 outside tochar(0..94), or
/// HCHECK does not match: such a header is damage, and its length must not be trusted.
VXCOMM_EXPORT int LongPacketLength(const std::uint8_t* packet);
/// Builds a long packet into Out (room for kLongDataPos + Len + 3 + 1 bytes).
///
/// MARK, blank LEN, SEQ (mod 64), TYPE, LENX1, LENX2, HCHECK, Len bytes of Data, the check,
/// EOL. Len is cut so that the extended length stays within kMaxLongLength. Returns the bytes
/// to send.
VXCOMM_EXPORT std::size_t FrameLongPacket(std::uint8_t* out, std::uint8_t type, unsigned seq,
                                          const std::uint8_t* data, std::size_t len,
                                          int checkIndex);
/// True when Size bytes from MARK are one whole long packet.
///
/// That is: a header that LongPacketLength accepts, an extended length that ends the packet at
/// Size and leaves room for the check characters, and a block check that matches. Nothing past
/// Size is read.
VXCOMM_EXPORT bool VerifyLongPacket(const std::uint8_t* packet, std::size_t size, int checkIndex);

}  // namespace vxkermit

}  // namespace vxcomm
