#include <algorithm>

#include "vxcomm/vxdataproc.h"

namespace vxcomm {

TvxDataPacket* TvxDataPackets::Add(int bufferSize) {
  return static_cast<TvxDataPacket*>(AddItem(std::make_unique<TvxDataPacket>(this, bufferSize)));
}

QObject* TvxDataPackets::Owner() const {
  return owner_;
}

void TvxDataPackets::ResetAll() {
  ResetAllExcept(-1);
}

void TvxDataPackets::ResetAllExcept(int index) {
  for (int i = 0; i < Count(); ++i)
    if (i != index) At(i)->Reset();
}

int TvxDataPackets::CheckTimeouts() {
  for (int i = 0; i < Count(); ++i) {
    if (At(i)->EndByTimeout()) {
      if (At(i)->ResetOthers()) ResetAllExcept(i);
      return i;
    }
  }
  return -1;
}

int TvxDataPackets::DetectByte(std::uint8_t ch) {
  pending_ = false;
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TvxDataPacket* packet = At(i);
    if (packet->AddByte(ch)) {
      if (packet->ResetOthers()) ResetAllExcept(i);
      return i;
    }
    pending_ = pending_ || packet->IsStarted();
  }
  return -1;
}

int TvxDataPackets::DetectNext(const std::uint8_t* data, std::size_t len, std::size_t& consumed) {
  const int count = Count();
  std::size_t room = len;
  for (int i = 0; i < count && room > 0; ++i)
    room = std::min(room, At(i)->InertRoom(stops_, stop_list_));
  std::size_t run = 0;
  while (run < room && !stops_[data[run]]) ++run;
  for (std::uint8_t c : stop_list_) stops_[c] = false;
  stop_list_.clear();
  if (run == 0) {
    consumed = len > 0 ? 1 : 0;
    return len > 0 ? DetectByte(data[0]) : -1;
  }
  // No definition completes within the run: each takes it whole, as it would byte by byte.
  pending_ = false;
  for (int i = 0; i < count; ++i) {
    At(i)->AddInert(data, run);
    pending_ = pending_ || At(i)->IsStarted();
  }
  consumed = run;
  return -1;
}

}  // namespace vxcomm
