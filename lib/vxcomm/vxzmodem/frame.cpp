#include "vxcomm/vxzmodem/frame.h"

#include <array>

#include "vxcomm/vxxmodem/block.h"

namespace vxcomm {

namespace vxzmodem {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kCr = 0x0D;
constexpr char kHexDigits[] = "0123456789abcdef";

std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

const std::array<std::uint32_t, 256> kCrc32Table = MakeCrc32Table();

void PutHex(std::uint8_t value, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(kHexDigits[value >> 4]));
  out.push_back(static_cast<std::uint8_t>(kHexDigits[value & 15]));
}

// The bytes of Header its CRC covers: the type, then P0..P3.
std::vector<std::uint8_t> HeaderBytes(const THeader& header) {
  return {header.type, header.data[0], header.data[1], header.data[2], header.data[3]};
}

}  // namespace

THeader THeader::At(std::uint8_t type, std::uint32_t position) {
  THeader h;
  h.type = type;
  for (int i = 0; i < 4; ++i) h.data[i] = static_cast<std::uint8_t>(position >> (8 * i));
  return h;
}

THeader THeader::Flags(std::uint8_t type, std::uint8_t f0, std::uint8_t f1, std::uint8_t f2,
                       std::uint8_t f3) {
  THeader h;
  h.type = type;
  h.data[3] = f0;
  h.data[2] = f1;
  h.data[1] = f2;
  h.data[0] = f3;
  return h;
}

std::uint32_t THeader::Position() const {
  return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
         (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) crc = kCrc32Table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t count) {
  return ~Crc32Update(0xFFFFFFFFu, data, count);
}

void TFrameEncoder::Raw(std::uint8_t ch, std::vector<std::uint8_t>& out) {
  out.push_back(ch);
  last_ = ch;
}

void TFrameEncoder::Put(std::uint8_t ch, std::vector<std::uint8_t>& out) {
  const std::uint8_t low = ch & 0x7F;
  bool escape = false;
  if (low == kZDle || low == kDle || low == kXon || low == kXoff)
    escape = true;
  else if (low == kCr && (last_ & 0x7F) == '@')
    escape = true;
  else if (escape_controls_ && low < 0x20)
    escape = true;
  if (escape) {
    Raw(kZDle, out);
    Raw(static_cast<std::uint8_t>(ch ^ 0x40), out);
  } else {
    Raw(ch, out);
  }
}

void TFrameEncoder::Hex(const THeader& header, std::vector<std::uint8_t>& out) {
  const std::vector<std::uint8_t> bytes = HeaderBytes(header);
  out.insert(out.end(), {kZPad, kZPad, kZDle, kZHex});
  for (const std::uint8_t b : bytes) PutHex(b, out);
  const std::uint16_t crc = vxxmodem::Crc16(bytes.data(), bytes.size());
  PutHex(static_cast<std::uint8_t>(crc >> 8), out);
  PutHex(static_cast<std::uint8_t>(crc & 0xFF), out);
  out.push_back(kCr);
  out.push_back(0x8A);
  if (header.type != ZACK && header.type != ZFIN) out.push_back(kXon);
  last_ = out.back();
}

void TFrameEncoder::Binary(const THeader& header, bool crc32, std::vector<std::uint8_t>& out) {
  const std::vector<std::uint8_t> bytes = HeaderBytes(header);
  Raw(kZPad, out);
  Raw(kZDle, out);
  Raw(crc32 ? kZBin32 : kZBin, out);
  for (const std::uint8_t b : bytes) Put(b, out);
  if (crc32) {
    const std::uint32_t crc = Crc32(bytes.data(), bytes.size());
    for (int i = 0; i < 4; ++i) Put(static_cast<std::uint8_t>(crc >> (8 * i)), out);
  } else {
    const std::uint16_t crc = vxxmodem::Crc16(bytes.data(), bytes.size());
    Put(static_cast<std::uint8_t>(crc >> 8), out);
    Put(static_cast<std::uint8_t>(crc & 0xFF), out);
  }
}

void TFrameEncoder::Subpacket(const std::uint8_t* data, std::size_t count, std::uint8_t end,
                              bool crc32, std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + count + count / 8 + 16);
  for (std::size_t i = 0; i < count; ++i) Put(data[i], out);
  Raw(kZDle, out);
  Raw(end, out);
  if (crc32) {
    const std::uint32_t crc = ~Crc32Update(Crc32Update(0xFFFFFFFFu, data, count), &end, 1);
    for (int i = 0; i < 4; ++i) Put(static_cast<std::uint8_t>(crc >> (8 * i)), out);
  } else {
    std::vector<std::uint8_t> checked(data, data + count);
    checked.push_back(end);
    const std::uint16_t crc = vxxmodem::Crc16(checked.data(), checked.size());
    Put(static_cast<std::uint8_t>(crc >> 8), out);
    Put(static_cast<std::uint8_t>(crc & 0xFF), out);
  }
  if (end == kZCrcW) Raw(kXon, out);
}

}  // namespace vxzmodem

}  // namespace vxcomm
