#include "vxcomm/vxkermit/textform.h"

#include <algorithm>

namespace vxcomm {

namespace vxkermit {

std::size_t StripCarriageReturns(std::uint8_t* data, std::size_t len) {
  return static_cast<std::size_t>(std::remove(data, data + len, '\r') - data);
}

std::size_t ExpandLineEnds(const std::uint8_t* in, std::size_t len, std::uint8_t* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (in[i] == '\n') out[n++] = '\r';
    out[n++] = in[i];
  }
  return n;
}

std::size_t SourceLength(const std::uint8_t* expanded, std::size_t used) {
  return used - static_cast<std::size_t>(std::count(expanded, expanded + used, '\n'));
}

bool LooksLikeText(const std::uint8_t* data, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    const std::uint8_t b = data[i];
    if (b >= 32 && b != 127) continue;
    const bool textControl = b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r' ||
                             b == '\b' || b == 27 || b == 26;
    if (!textControl) return false;
  }
  return true;
}

}  // namespace vxkermit

}  // namespace vxcomm
