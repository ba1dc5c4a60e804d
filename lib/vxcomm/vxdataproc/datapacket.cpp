#include <algorithm>
#include <cstdint>
#include <cstring>

#include "vxcomm/vxdataproc.h"

namespace vxcomm {

TvxDataPacket::TvxDataPacket(TvxDataPackets* collection, int bufferSize)
    : TCollectionItem(collection),
      buffer_size_(std::max(bufferSize, MinBufferSize)),
      data_(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(buffer_size_))) {}

std::string TvxDataPacket::DisplayName() const {
  bool blank = std::all_of(caption_.begin(), caption_.end(),
                           [](char c) { return static_cast<unsigned char>(c) <= ' '; });
  return blank ? TCollectionItem::DisplayName() : caption_;
}

void TvxDataPacket::Assign(const TPersistent& source) {
  auto* other = dynamic_cast<const TvxDataPacket*>(&source);
  if (!other) {
    TCollectionItem::Assign(source);
    return;
  }
  active_ = other->active_;
  reset_others_ = other->reset_others_;
  caption_ = other->caption_;
  packet_begin_ = other->packet_begin_;
  packet_end_ = other->packet_end_;
  packet_length_ = other->packet_length_;
  restart_on_begin_ = other->restart_on_begin_;
  SetBodyBreaks(other->body_breaks_text_);
}

void TvxDataPacket::SetBodyBreaks(const std::string& value) {
  body_breaks_text_ = value;
  body_breaks_.fill(false);
  for (char c : value) body_breaks_[static_cast<std::uint8_t>(c)] = true;
}

void TvxDataPacket::RestartAtBegin() {
  data_[0] = static_cast<std::uint8_t>(packet_begin_[0]);
  data_size_ = 1;
  length_pending_ = static_cast<bool>(OnPacketLength);
  phase_ = BeginBody();
}

void TvxDataPacket::Reset() {
  data_size_ = 0;
  length_pending_ = static_cast<bool>(OnPacketLength);
  if (!packet_begin_.empty()) {
    matcher_.SetPattern(packet_begin_);
    phase_ = TvxPacketPhase::WaitBegin;
  } else {
    phase_ = BeginBody();
  }
}

TvxPacketPhase TvxDataPacket::BeginBody() {
  if (!packet_end_.empty()) {
    matcher_.SetPattern(packet_end_);
    return TvxPacketPhase::WaitEnd;
  }
  if (packet_length_ > 0 || length_pending_) return TvxPacketPhase::WaitLength;
  if (packet_end_by_timeout_) return TvxPacketPhase::WaitTimeout;
  return TvxPacketPhase::Idle;
}

bool TvxDataPacket::AddByte(std::uint8_t ch) {
  if (!active_ || phase_ == TvxPacketPhase::Idle) return false;
  if (InBody()) {
    if (restart_on_begin_ && packet_begin_.size() == 1 &&
        ch == static_cast<std::uint8_t>(packet_begin_[0])) {
      RestartAtBegin();
      return false;
    }
    if (body_breaks_[ch] && data_size_ < buffer_size_) {
      data_[static_cast<std::size_t>(data_size_++)] = ch;
      return true;
    }
  }
  if (phase_ != TvxPacketPhase::WaitBegin) {
    // An over-long packet drops the byte and collects again from the buffer's start.
    if (data_size_ >= buffer_size_)
      data_size_ = 0;
    else
      data_[static_cast<std::size_t>(data_size_++)] = ch;
  }
  bool complete = false;
  switch (phase_) {
    case TvxPacketPhase::WaitTimeout:
      return false;
    case TvxPacketPhase::WaitLength: {
      bool handled = true;
      if (length_pending_ && OnPacketLength) {
        handled = false;
        OnPacketLength(this, ch, handled);
        if (handled) length_pending_ = false;
      }
      complete = handled && data_size_ >= packet_length_;
      break;
    }
    case TvxPacketPhase::WaitBegin:
      if (matcher_.Match(static_cast<char>(ch))) {
        // The marker may be longer than the buffer: only what fits is kept.
        data_size_ = static_cast<int>(
            std::min<std::size_t>(packet_begin_.size(), static_cast<std::size_t>(buffer_size_)));
        std::memcpy(data_.get(), packet_begin_.data(), static_cast<std::size_t>(data_size_));
        phase_ = BeginBody();
        complete = phase_ == TvxPacketPhase::Idle;
      }
      break;
    case TvxPacketPhase::WaitEnd:
      complete = matcher_.Match(static_cast<char>(ch));
      break;
    case TvxPacketPhase::Idle:
      break;
  }
  if (complete) TrimToLength();
  return complete;
}

std::size_t TvxDataPacket::InertRoom(std::array<bool, 256>& stops,
                                     std::vector<std::uint8_t>& stopList) const {
  constexpr std::size_t unlimited = SIZE_MAX;
  auto stopAt = [&](char c) {
    auto b = static_cast<std::uint8_t>(c);
    if (!stops[b]) {
      stops[b] = true;
      stopList.push_back(b);
    }
  };
  // Storing never reaches the buffer's end inside a run: the restart is the full step's.
  const auto space = static_cast<std::size_t>(buffer_size_ - data_size_);
  if (!active_) return unlimited;
  if (InBody()) {
    if (restart_on_begin_ && packet_begin_.size() == 1) stopAt(packet_begin_[0]);
    for (char c : body_breaks_text_) stopAt(c);
  }
  switch (phase_) {
    case TvxPacketPhase::Idle:
      return unlimited;
    case TvxPacketPhase::WaitBegin:
      if (matcher_.InProgress()) return 0;
      stopAt(matcher_.Pattern()[0]);
      return unlimited;
    case TvxPacketPhase::WaitEnd:
      if (matcher_.InProgress()) return 0;
      stopAt(matcher_.Pattern()[0]);
      return space;
    case TvxPacketPhase::WaitTimeout:
      return space;
    case TvxPacketPhase::WaitLength:
      if (length_pending_ && OnPacketLength) return 0;
      // The byte that completes the packet takes the full step.
      if (packet_length_ - data_size_ <= 1) return 0;
      return std::min(space, static_cast<std::size_t>(packet_length_ - data_size_ - 1));
  }
  return 0;
}

void TvxDataPacket::AddInert(const std::uint8_t* data, std::size_t count) {
  if (!active_ || phase_ == TvxPacketPhase::Idle || phase_ == TvxPacketPhase::WaitBegin) return;
  std::memcpy(data_.get() + data_size_, data, count);
  data_size_ += static_cast<int>(count);
}

void TvxDataPacket::TrimToLength() {
  if (phase_ == TvxPacketPhase::WaitLength || !packet_begin_.empty() || packet_length_ <= 0 ||
      data_size_ <= packet_length_)
    return;
  std::memmove(data_.get(), data_.get() + (data_size_ - packet_length_),
               static_cast<std::size_t>(packet_length_));
  data_size_ = packet_length_;
}

bool TvxDataPacket::EndByTimeout() {
  if (!packet_end_by_timeout_) return false;
  TrimToLength();
  return data_size_ > 0;
}

}  // namespace vxcomm
