#include "vxkermit/encoding.h"

namespace vxkermit {

std::string EncodeText(const std::string& bytes, std::uint8_t qctl, std::uint8_t qbin) {
  std::string out;
  std::uint8_t one[kMaxEncodedByte];
  for (char c : bytes) {
    const std::size_t n = EncodeByte(static_cast<std::uint8_t>(c), qctl, qbin, one);
    out.append(reinterpret_cast<const char*>(one), n);
  }
  return out;
}

namespace {

// The byte a quoted character D stands for.
std::uint8_t Unquote(std::uint8_t d, std::uint8_t qctl, std::uint8_t qbin) {
  if (d == qctl || d == kQuotedHigh) return d;
  // With eighth-bit prefixing a peer may also quote the prefixes with the top bit set.
  if (qbin != 0) {
    const std::uint8_t low = d & 0x7F;
    if (low == qctl || low == qbin) return d;
  }
  return static_cast<std::uint8_t>(d ^ 64);
}

}  // namespace

std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, std::uint8_t qctl,
                           std::uint8_t qbin, std::uint8_t* out) {
  std::ptrdiff_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    std::uint8_t c = in[i];
    std::uint8_t high = 0;
    if (qbin != 0 && c == qbin) {
      if (++i == len) return -1;
      high = 0x80;
      c = in[i];
    }
    if (c == qctl) {
      if (++i == len) return -1;
      c = Unquote(in[i], qctl, qbin);
    }
    out[n++] = static_cast<std::uint8_t>(c | high);
  }
  return n;
}

}  // namespace vxkermit
