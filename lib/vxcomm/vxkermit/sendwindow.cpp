#include "vxcomm/vxkermit/sendwindow.h"

#include <algorithm>
#include <cstring>

namespace vxcomm {

namespace vxkermit {

void TSendWindow::Allocate(int slots, std::size_t imageSize) {
  capacity_ = std::clamp(slots, 1, kMaxWindow);
  image_size_ = imageSize;
  storage_.resize(static_cast<std::size_t>(capacity_) * imageSize);
  slots_.assign(static_cast<std::size_t>(capacity_), Slot{});
  Clear();
}

void TSendWindow::Clear() {
  base_ = 0;
  count_ = 0;
}

bool TSendWindow::Push(int number, const std::uint8_t* bytes, std::size_t size, std::size_t field,
                       int repeatsBefore) {
  if (Full() || size > image_size_ || number < 0) return false;
  if (count_ > 0 && number != base_ + count_) return false;
  if (count_ == 0) base_ = number;
  const std::size_t i = Index(number);
  std::memcpy(storage_.data() + i * image_size_, bytes, size);
  slots_[i] = Slot{size, field, 0, false, std::chrono::steady_clock::now(), repeatsBefore};
  ++count_;
  return true;
}

int TSendWindow::Find(std::uint8_t seq) const {
  for (int n = base_; n < base_ + count_; ++n)
    if ((n & 63) == (seq & 63)) return n;
  return -1;
}

bool TSendWindow::Acknowledge(int number) {
  if (!Kept(number) || slots_[Index(number)].acked) return false;
  slots_[Index(number)].acked = true;
  return true;
}

int TSendWindow::Slide() {
  int n = 0;
  while (count_ > 0 && slots_[Index(base_)].acked) {
    ++base_;
    --count_;
    ++n;
  }
  return n;
}

bool TSendWindow::Acknowledged(int number) const {
  return Kept(number) && slots_[Index(number)].acked;
}

int TSendWindow::OldestUnacknowledged() const {
  for (int n = base_; n < base_ + count_; ++n)
    if (!slots_[Index(n)].acked) return n;
  return -1;
}

const std::uint8_t* TSendWindow::Bytes(int number) const {
  return storage_.data() + Index(number) * image_size_;
}

std::size_t TSendWindow::Size(int number) const {
  return slots_[Index(number)].size;
}

std::size_t TSendWindow::Field(int number) const {
  return slots_[Index(number)].field;
}

int TSendWindow::Repeats(int number) const {
  return slots_[Index(number)].repeats;
}

void TSendWindow::Repeated(int number) {
  if (Kept(number)) ++slots_[Index(number)].repeats;
}

std::chrono::steady_clock::time_point TSendWindow::SentAt(int number) const {
  return slots_[Index(number)].sent_at;
}

int TSendWindow::RepeatsBefore(int number) const {
  return slots_[Index(number)].repeats_before;
}

int TSendWindow::OldestRepeats() const {
  const int oldest = OldestUnacknowledged();
  return oldest < 0 ? 0 : slots_[Index(oldest)].repeats;
}

}  // namespace vxkermit

}  // namespace vxcomm
