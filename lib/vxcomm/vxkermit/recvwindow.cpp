#include "vxcomm/vxkermit/recvwindow.h"

#include <algorithm>
#include <cstring>

#include "vxcomm/vxkermit/sendwindow.h"

namespace vxcomm {

namespace vxkermit {

void TRecvWindow::Allocate(int slots, std::size_t imageSize) {
  capacity_ = std::clamp(slots, 1, kMaxWindow);
  image_size_ = imageSize;
  storage_.resize(static_cast<std::size_t>(capacity_) * imageSize);
  slots_.assign(static_cast<std::size_t>(capacity_), Slot{});
  Clear();
}

void TRecvWindow::Clear() {
  for (Slot& s : slots_) s.held = false;
  head_ = 0;
  held_ = 0;
}

TRecvPlace TRecvWindow::Place(std::uint8_t seq, std::uint8_t expected) const {
  const int d = (seq - expected) & 63;
  const int w = std::max(capacity_, 1);
  if (d == 0) return TRecvPlace::kExpected;
  if (d < w) return TRecvPlace::kAhead;
  if (d >= 64 - w) return TRecvPlace::kPrevious;
  return TRecvPlace::kOutside;
}

bool TRecvWindow::Holds(std::uint8_t seq, std::uint8_t expected) const {
  if (Place(seq, expected) != TRecvPlace::kAhead) return false;
  return slots_[Index((seq - expected) & 63)].held;
}

bool TRecvWindow::Keep(std::uint8_t seq, std::uint8_t expected, const std::uint8_t* image,
                       std::size_t size, std::size_t dataPos, std::size_t dataLen) {
  if (Place(seq, expected) != TRecvPlace::kAhead || size > image_size_ || dataPos + dataLen > size)
    return false;
  const std::size_t i = Index((seq - expected) & 63);
  std::memcpy(storage_.data() + i * image_size_, image, size);
  if (!slots_[i].held) ++held_;
  slots_[i] = Slot{size, dataPos, dataLen, true};
  return true;
}

void TRecvWindow::Advance() {
  if (capacity_ == 0) return;
  if (slots_[head_].held) {
    slots_[head_].held = false;
    --held_;
  }
  head_ = (head_ + 1) % static_cast<std::size_t>(capacity_);
}

bool TRecvWindow::TakeExpected(std::uint8_t* out, std::size_t outSize, std::size_t& dataPos,
                               std::size_t& dataLen) const {
  if (capacity_ == 0 || !slots_[head_].held || slots_[head_].size > outSize) return false;
  const Slot& s = slots_[head_];
  std::memcpy(out, storage_.data() + head_ * image_size_, s.size);
  dataPos = s.data_pos;
  dataLen = s.data_len;
  return true;
}

}  // namespace vxkermit

}  // namespace vxcomm
