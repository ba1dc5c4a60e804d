// Prefix encoding of bytes into a packet's data field and its decoding: control prefixing
// always, eighth-bit prefixing when a QBIN is in force, repeat counts when a REPT is in
// force. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxcomm {

namespace vxkermit {

// The quote of "#" with the eighth bit set: taken literally after the control prefix,
// whatever the prefix character is.
inline constexpr std::uint8_t kQuotedHigh = 163;

// The most characters one byte can take in a data field: QBIN, QCTL and the character.
inline constexpr std::size_t kMaxEncodedByte = 3;

// Without eighth-bit prefixing: true for bytes that travel behind the control prefix,
// 0..31, 127, 255 and the prefix itself.
constexpr bool NeedsPrefix(std::uint8_t b, std::uint8_t qctl) {
  return b < 32 || b == 127 || b == 255 || b == qctl;
}

// How many characters EncodeByte writes for B (1..kMaxEncodedByte).
constexpr std::size_t EncodedLength(std::uint8_t b, std::uint8_t qctl, std::uint8_t qbin,
                                    std::uint8_t rept = 0) {
  if (qbin == 0) return NeedsPrefix(b, qctl) || (rept != 0 && b == rept) ? 2 : 1;
  const std::uint8_t low = b & 0x7F;
  const bool prefixed =
      low < 32 || low == 127 || low == qctl || low == qbin || (rept != 0 && low == rept);
  return (b & 0x80 ? 1 : 0) + (prefixed ? 2 : 1);
}

// Writes the encoding of B at Out (room for kMaxEncodedByte) and returns its length.
// Qctl is the control prefix; Qbin the eighth-bit prefix in force, 0 for none; Rept the
// repeat prefix in force, 0 for none (a byte equal to it travels behind Qctl). Without
// Qbin, bytes with the eighth bit set travel as they are (255 behind the control prefix);
// with one, they travel as Qbin and the encoding of their low seven bits, so every
// character written is 7-bit. Qctl, Qbin and Rept must differ.
constexpr std::size_t EncodeByte(std::uint8_t b, std::uint8_t qctl, std::uint8_t qbin,
                                 std::uint8_t rept, std::uint8_t* out) {
  std::size_t n = 0;
  if (qbin != 0) {
    if (b & 0x80) out[n++] = qbin;
    b &= 0x7F;
  }
  if (b < 32 || b == 127 || (qbin == 0 && b == 255)) {
    out[n++] = qctl;
    out[n++] = static_cast<std::uint8_t>(b ^ 64);
  } else if (b == qctl || (qbin != 0 && b == qbin) || (rept != 0 && b == rept)) {
    out[n++] = qctl;
    out[n++] = b;
  } else {
    out[n++] = b;
  }
  return n;
}
constexpr std::size_t EncodeByte(std::uint8_t b, std::uint8_t qctl, std::uint8_t qbin,
                                 std::uint8_t* out) {
  return EncodeByte(b, qctl, qbin, 0, out);
}

// With minimal prefixing, the control characters that still travel behind the control
// prefix (as seven bits): SOH begins a packet and CR ends one; XON and XOFF are a line's
// flow control; DEL (and 255 on an eight-bit line) some lines drop; NUL, Ctrl-D, LF and
// Ctrl-U are what ckermit itself keeps prefixed at its most sparing, and ckermit takes a
// bare NUL badly: windowing on a damaged line it ended with a short file and reported
// success. Every other control character travels as it is; receivers take a data field
// by its length.
constexpr bool KeepsControlPrefix(std::uint8_t low) {
  return low == 0 || low == 1 || low == 4 || low == 10 || low == 13 || low == 17 || low == 19 ||
         low == 21 || low == 127;
}

// The prefixes in force for a session's data fields; 0 for a prefix not in use. Minimal:
// data bytes use minimal prefixing (KeepsControlPrefix); file names never do.
struct TPrefixes {
  std::uint8_t qctl = '#';
  std::uint8_t qbin = 0;
  std::uint8_t rept = 0;
  bool minimal = false;
};

// The longest run one repeat count covers, and the most characters a repeated byte takes:
// Rept, the count, Qbin, Qctl and the character.
inline constexpr std::size_t kMaxRepeatCount = 94;
inline constexpr std::size_t kMaxEncodedRun = 2 + kMaxEncodedByte;

// Encodes bytes from In (Len of them) into Out, which has room for Room characters, as
// many whole bytes as fit: a run of equal bytes becomes Rept, tochar(count) and the
// byte's encoding when a repeat prefix is in force and that is shorter. Returns how many
// bytes of In were encoded; Written receives the characters written.
std::size_t EncodeData(const std::uint8_t* in, std::size_t len, const TPrefixes& prefixes,
                       std::uint8_t* out, std::size_t room, std::size_t& written);

// The largest number of bytes a data field of Len characters can decode to: Len, or with
// repeat counts every three characters standing for up to kMaxRepeatCount bytes.
constexpr std::size_t MaxDecodedLength(std::size_t len, bool repeatCounts) {
  return repeatCounts ? (len / 3) * kMaxRepeatCount + len % 3 : len;
}

// The encoding of every byte of Bytes, as EncodeByte gives it: file names travel so, like
// file data.
std::string EncodeText(const std::string& bytes, std::uint8_t qctl, std::uint8_t qbin,
                       std::uint8_t rept = 0);

// Decodes Len characters of a data field into Out (room for Len bytes); returns the number
// of bytes, or -1 when the field ends in a lone prefix (no sender produces that, so the
// field is damaged and Out must not be used). After Qctl a character whose low seven bits
// are Qctl or Qbin, or that is kQuotedHigh, is taken as it is, any other is flipped back
// (XOR 64). With Qbin (not 0) a Qbin sets the eighth bit of the byte that follows it.
std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, std::uint8_t qctl,
                           std::uint8_t qbin, std::uint8_t* out);
// As above, with the repeat prefix Rept in force (0 for none) and room for Room bytes at
// Out. Rept, tochar(count) and a byte's encoding stand for count copies of the byte. A
// count outside 1..94, a repeat prefix where a byte's encoding should begin, a field that
// ends inside a prefixed sequence, or more bytes than Room make the field damaged: -1, and
// nothing is written past Room.
std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, const TPrefixes& prefixes,
                           std::uint8_t* out, std::size_t room);

}  // namespace vxkermit

}  // namespace vxcomm
