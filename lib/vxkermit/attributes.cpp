#include "vxkermit/attributes.h"

#include <limits>

#include "vxkermit/packet.h"

namespace vxkermit {

namespace {

// The decimal value of Text, or -1 when it is empty or not all digits.
std::int64_t DecimalValue(const std::string& text) {
  if (text.empty()) return -1;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    if (v < std::numeric_limits<std::int64_t>::max() / 16) v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

std::string BuildAttributes(std::int64_t size) {
  const std::string digits = std::to_string(size / 1024 + 1);
  return std::string("!") + static_cast<char>(ToChar(static_cast<unsigned>(digits.size()))) +
         digits;
}

std::string GetAttribute(const std::uint8_t* field, std::size_t len, char letter) {
  std::size_t i = 0;
  while (i + 1 < len) {
    const std::uint8_t l = field[i + 1];
    if (l <= 32) break;
    const std::size_t n = static_cast<std::size_t>(UnChar(l));
    const std::size_t start = i + 2;
    const std::size_t avail = start < len ? len - start : 0;
    if (field[i] == static_cast<std::uint8_t>(letter))
      return std::string(reinterpret_cast<const char*>(field + start), n < avail ? n : avail);
    i = start + n;
  }
  return {};
}

std::int32_t AnnouncedSize(const std::uint8_t* field, std::size_t len) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t v = DecimalValue(GetAttribute(field, len, '1'));
  if (v < 0) {
    const std::int64_t k = DecimalValue(GetAttribute(field, len, '!'));
    v = k < 0 ? 1 : (k > kMax / 1024 ? kMax : k * 1024 + 1);
  }
  return static_cast<std::int32_t>(v > kMax ? kMax : v);
}

}  // namespace vxkermit
