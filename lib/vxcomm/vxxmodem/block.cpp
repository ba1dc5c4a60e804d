#include "vxcomm/vxxmodem/block.h"

#include <algorithm>

namespace vxcomm {

namespace vxxmodem {

std::uint8_t Checksum(const std::uint8_t* data, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return sum;
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::vector<std::uint8_t> FrameBlock(std::uint8_t number, const std::uint8_t* data, std::size_t len,
                                     std::size_t blockSize, bool crc, std::uint8_t fill) {
  std::vector<std::uint8_t> out(3 + blockSize, fill);
  out[0] = blockSize == kLongBlock ? kStx : kSoh;
  out[1] = number;
  out[2] = static_cast<std::uint8_t>(~number);
  std::copy_n(data, std::min(len, blockSize), out.begin() + 3);
  const std::uint8_t* body = out.data() + 3;
  if (crc) {
    const std::uint16_t value = Crc16(body, blockSize);
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  } else {
    out.push_back(Checksum(body, blockSize));
  }
  return out;
}

TReadEvent TBlockReader::Take(std::uint8_t ch) {
  if (want_ > 0) {
    buf_[have_++] = ch;
    return have_ == want_ ? Finish() : TReadEvent::kNone;
  }
  const bool can = ch == kCan;
  const bool second_can = can && can_;
  can_ = can && !second_can;
  if (second_can) return TReadEvent::kCancel;
  if (ch == kEot) return TReadEvent::kEot;
  if (ch == kSoh || ch == kStx) {
    size_ = ch == kStx ? kLongBlock : kShortBlock;
    have_ = 0;
    want_ = 2 + size_ + (crc_ ? 2 : 1);
  }
  return TReadEvent::kNone;
}

void TBlockReader::Reset() {
  want_ = have_ = 0;
  can_ = false;
}

TReadEvent TBlockReader::Finish() {
  want_ = 0;
  if (static_cast<std::uint8_t>(buf_[0] ^ buf_[1]) != 0xFF) return TReadEvent::kBadBlock;
  const std::uint8_t* check = Data() + size_;
  const bool sound = crc_ ? Crc16(Data(), size_) == ((check[0] << 8) | check[1])
                          : Checksum(Data(), size_) == check[0];
  return sound ? TReadEvent::kBlock : TReadEvent::kBadBlock;
}

}  // namespace vxxmodem

}  // namespace vxcomm
