#include "vxkermit/encoding.h"

namespace vxkermit {

std::ptrdiff_t DecodeField(const std::uint8_t* in, std::size_t len, std::uint8_t qctl,
                           std::uint8_t* out) {
  std::ptrdiff_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    std::uint8_t c = in[i];
    if (c == qctl) {
      if (++i == len) return -1;
      const std::uint8_t d = in[i];
      c = (d == qctl || d == kQuotedHigh) ? d : static_cast<std::uint8_t>(d ^ 64);
    }
    out[n++] = c;
  }
  return n;
}

}  // namespace vxkermit
