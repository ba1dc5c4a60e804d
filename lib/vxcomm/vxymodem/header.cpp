#include "vxcomm/vxymodem/header.h"

#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxxmodem/block.h"

namespace vxcomm {

namespace vxymodem {

namespace {

// The largest length or time a header may give.
constexpr std::int64_t kMaxField = std::int64_t{1} << 62;
// Room a 1K block 0 keeps for the fields after the name: NUL, 19 digits, a space, 21 octal digits.
constexpr std::size_t kFieldRoom = 48;

std::string Octal(std::int64_t value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + (value & 7)));
    value >>= 3;
  } while (value > 0);
  return digits;
}

// Reads the field of digits in Base starting at At (leading spaces skipped), up to a space
// or the end; moves At past it. -1 when there is none; nothing when it is malformed.
std::optional<std::int64_t> Field(const std::string& text, std::size_t& at, int base) {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at == text.size()) return -1;
  std::int64_t value = 0;
  for (; at < text.size() && text[at] != ' '; ++at) {
    const int digit = text[at] - '0';
    if (digit < 0 || digit >= base) return std::nullopt;
    // Checked before it is computed: the value stays within kMaxField.
    if (value > (kMaxField - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

}  // namespace

std::vector<std::uint8_t> HeaderData(const std::string& path, std::int64_t length,
                                     std::int64_t modified) {
  const std::string name = vxkermit::SentFileName(path, vxxmodem::kLongBlock - kFieldRoom);
  const std::string fields = std::to_string(length) + " " + Octal(modified > 0 ? modified : 0);
  std::vector<std::uint8_t> data(name.begin(), name.end());
  data.push_back(0);
  data.insert(data.end(), fields.begin(), fields.end());
  return data;
}

std::optional<THeader> ParseHeader(const std::uint8_t* data, std::size_t count) {
  const std::string block(reinterpret_cast<const char*>(data), count);
  const std::size_t nul = block.find('\0');
  THeader header;
  header.name = block.substr(0, nul);
  if (header.name.empty() || nul == std::string::npos) return header;
  // The fields end at the next NUL; more fields (mode, serial number) may follow the time.
  const std::size_t end = block.find('\0', nul + 1);
  const std::string fields = block.substr(nul + 1, end == std::string::npos ? end : end - nul - 1);
  std::size_t at = 0;
  const auto length = Field(fields, at, 10);
  const auto modified = length ? Field(fields, at, 8) : std::nullopt;
  if (!length || !modified) return std::nullopt;
  header.length = *length;
  header.modified = *modified > 0 ? *modified : -1;
  return header;
}

}  // namespace vxymodem

}  // namespace vxcomm
