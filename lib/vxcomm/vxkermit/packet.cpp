#include "vxcomm/vxkermit/packet.h"

#include <algorithm>
#include <cstring>

namespace vxcomm {

namespace vxkermit {

std::uint16_t BlockCheck(const std::uint8_t* covered, std::size_t count, int checkIndex) {
  if (checkIndex == 2) {
    // CRC-CCITT, reflected, four bits at a time with no table.
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t b = covered[i];
      std::uint32_t q = (crc ^ b) & 15;
      crc = (crc >> 4) ^ (q * 0x1081);
      q = (crc ^ (b >> 4)) & 15;
      crc = (crc >> 4) ^ (q * 0x1081);
    }
    return static_cast<std::uint16_t>(crc & 0xFFFF);
  }
  std::uint32_t s = 0;
  for (std::size_t i = 0; i < count; ++i) s += covered[i];
  if (checkIndex == 1) return static_cast<std::uint16_t>(s & 0xFFF);
  return static_cast<std::uint16_t>((s + ((s & 0xC0) >> 6)) & 0x3F);
}

std::uint16_t CalcBlockCheck(const std::uint8_t* packet, int checkIndex) {
  const int count = UnChar(packet[kLenPos]) - checkIndex;  // data length + 3
  const std::size_t n = std::clamp<int>(count, 0, static_cast<int>(kPacketImageSize - kLenPos));
  return BlockCheck(packet + kLenPos, n, checkIndex);
}

void WriteCheckChars(std::uint16_t value, int checkIndex, std::uint8_t* out) {
  for (int i = checkIndex; i >= 0; --i) *out++ = ToChar((value >> (6 * i)) & 0x3F);
}

bool VerifyBlockCheck(const std::uint8_t* packet, int checkIndex) {
  const int len = UnChar(packet[kLenPos]);
  if (len < MinPacketLen(checkIndex) || static_cast<std::size_t>(len) + 2 > kPacketImageSize)
    return false;
  const std::uint16_t v = CalcBlockCheck(packet, checkIndex);
  for (int i = 0; i <= checkIndex; ++i)
    if (packet[static_cast<std::size_t>(len + 1 - i)] != ToChar((v >> (6 * i)) & 0x3F))
      return false;
  return true;
}

std::size_t FramePacket(std::uint8_t* out, std::uint8_t type, unsigned seq,
                        const std::uint8_t* data, std::size_t len, int checkIndex) {
  len = std::min(len, MaxImageData(checkIndex));
  const std::size_t k = static_cast<std::size_t>(CheckLength(checkIndex));
  const std::size_t l = len + k + 2;
  out[0] = kMark;
  out[kLenPos] = ToChar(static_cast<unsigned>(l));
  out[kSeqPos] = ToChar(seq % 64);
  out[kTypePos] = type;
  if (len > 0) std::memmove(out + kDataPos, data, len);
  WriteCheckChars(CalcBlockCheck(out, checkIndex), checkIndex, out + l + 2 - k);
  out[l + 2] = kEol;
  return l + 3;
}

std::uint8_t HeaderCheck(const std::uint8_t* packet) {
  return ToChar(BlockCheck(packet + kLenPos, kHcheckPos - kLenPos, 0));
}

int LongPacketLength(const std::uint8_t* packet) {
  if (packet[kLenPos] != ToChar(0)) return -1;
  const int x1 = UnChar(packet[kLenx1Pos]);
  const int x2 = UnChar(packet[kLenx2Pos]);
  // 95 * 95 is written with tochar(95), DEL, as LENX1 by some peers.
  if (x1 < 0 || x1 > 95 || x2 < 0 || x2 > 94) return -1;
  if (packet[kHcheckPos] != HeaderCheck(packet)) return -1;
  return x1 * 95 + x2;
}

std::size_t FrameLongPacket(std::uint8_t* out, std::uint8_t type, unsigned seq,
                            const std::uint8_t* data, std::size_t len, int checkIndex) {
  const std::size_t k = static_cast<std::size_t>(CheckLength(checkIndex));
  len = std::min(len, kMaxLongLength - k);
  const std::size_t ext = len + k;
  out[0] = kMark;
  out[kLenPos] = ToChar(0);
  out[kSeqPos] = ToChar(seq % 64);
  out[kTypePos] = type;
  out[kLenx1Pos] = ToChar(static_cast<unsigned>(ext / 95));
  out[kLenx2Pos] = ToChar(static_cast<unsigned>(ext % 95));
  out[kHcheckPos] = HeaderCheck(out);
  if (len > 0) std::memmove(out + kLongDataPos, data, len);
  const std::size_t end = kLongDataPos + len;
  WriteCheckChars(BlockCheck(out + kLenPos, end - kLenPos, checkIndex), checkIndex, out + end);
  out[end + k] = kEol;
  return end + k + 1;
}

bool VerifyLongPacket(const std::uint8_t* packet, std::size_t size, int checkIndex) {
  if (size < kLongDataPos) return false;
  const int ext = LongPacketLength(packet);
  const std::size_t k = static_cast<std::size_t>(CheckLength(checkIndex));
  if (ext < static_cast<int>(k) || kLongDataPos + static_cast<std::size_t>(ext) != size)
    return false;
  const std::size_t end = size - k;
  std::uint8_t check[3];
  WriteCheckChars(BlockCheck(packet + kLenPos, end - kLenPos, checkIndex), checkIndex, check);
  return std::memcmp(check, packet + end, k) == 0;
}

}  // namespace vxkermit

}  // namespace vxcomm
