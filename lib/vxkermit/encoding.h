// Control-prefix encoding of file bytes into a D data field and its decoding. Bytes with
// the eighth bit set travel as they are; no repeat counts are sent or understood.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxkermit {

// The quote of "#" with the eighth bit set: taken literally after the prefix, whatever
// the prefix character is.
inline constexpr std::uint8_t kQuotedHigh = 163;

// True for bytes that travel behind the control prefix: 0..31, 127, 255 and the prefix.
constexpr bool NeedsPrefix(std::uint8_t b, std::uint8_t qctl) {
  return b < 32 || b == 127 || b == 255 || b == qctl;
}

// Appends the encoding of B at Out (one or two characters); returns how many were written.
inline std::size_t EncodeByte(std::uint8_t b, std::uint8_t qctl, std::uint8_t* out) {
  if (!NeedsPrefix(b, qctl)) {
    out[0] = b;
    return 1;
  }
  out[0] = qctl;
  out[1] = b == qctl ? b : static_cast<std::uint8_t>(b ^ 64);
  return 2;
}

// Decodes Len characters of a data field into Out (room for Len bytes); returns the number
// of bytes, or -1 when the field ends in a lone prefix (no sender produces that, so the
// field is damaged and none of it may be written).
std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, std::uint8_t qctl,
                           std::uint8_t* out);

}  // namespace vxkermit
