#include "vxdataproc.h"

TvxDataPacket* TvxDataPackets::Add(int bufferSize) {
  return static_cast<TvxDataPacket*>(AddItem(std::make_unique<TvxDataPacket>(this, bufferSize)));
}

QObject* TvxDataPackets::Owner() const {
  return owner_;
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
