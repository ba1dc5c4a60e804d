#include "vxcomm/vxdataproc.h"

namespace vxcomm {

TvxDataProtocol::TvxDataProtocol(QObject* owner) : TvxCustomDataProcessor(owner), packets_(this) {
  SetLogPrefix("vxDataProt: ");
}

TvxDataProtocol::~TvxDataProtocol() {
  Destroying();
}

void TvxDataProtocol::DoMediumClosed() {
  TvxCustomDataProcessor::DoMediumClosed();
  consume_data_ = false;
  ResetPackets();
}

void TvxDataProtocol::DoMediumOpened() {
  consume_data_ = false;
  ResetPackets();
  TvxCustomDataProcessor::DoMediumOpened();
}

void TvxDataProtocol::DeliverPacket(int index) {
  try {
    DoPacket(index);
  } catch (...) {
    if (index < packets_.Count()) packets_.Items(index)->Reset();
    throw;
  }
  // A handler may have deleted definitions.
  if (index < packets_.Count()) packets_.Items(index)->Reset();
}

void TvxDataProtocol::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
  if (Active() && packets_.Count() > 0) {
    const int silence = SilenceTimeout();
    Cardinal interval = silence > 0 ? static_cast<Cardinal>(silence) : 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t at = 0;
    while (bytes && at < len) {
      std::size_t used = 0;
      int k = packets_.DetectNext(bytes + at, len - at, used);
      at += used;
      if (k >= 0) {
        DeliverPacket(k);
        StartTimer(0);
      }
      if (!Active()) {
        interval = 0;
        break;
      }
    }
    StartTimer(interval);
    if (consume_data_) handled = true;
  }
  TvxCustomDataProcessor::DoDataReceived(buffer, len, handled);
}

void TvxDataProtocol::DoTimer(TObject* sender) {
  TvxCustomDataProcessor::DoTimer(sender);
  int k = packets_.CheckTimeouts();
  if (k < 0) {
    DoTimeout();
  } else if (OnDataPacket) {
    DeliverPacket(k);
  } else {
    packets_.Items(k)->Reset();
  }
  StartTimer(0);
}

void TvxDataProtocol::DoPacket(int index) {
  if (index < 0 || index >= packets_.Count()) return;
  TvxDataPacket* packet = packets_.Items(index);
  if (Logs(dlDebug)) LogMsg(dlDebug, "DataPacket is detected: " + packet->DisplayName());
  if (!OnDataPacket) return;
  const std::string name = packet->DisplayName();  // the handler may delete the definition
  try {
    OnDataPacket(this, packet);
  } catch (const Exception& e) {
    RaiseFatalError(15, 1, "EXCEPTION in DataPacket handler [" + name + "]" + e.Message());
  }
}

void TvxDataProtocol::DoTimeout() {
  if (!OnTimeout) return;
  try {
    OnTimeout(this);
  } catch (const Exception& e) {
    RaiseFatalError(15, 1, "EXCEPTION in OnTimout handler." + e.Message());
  }
}

int TvxDataProtocol::ProcessByte(std::uint8_t ch) {
  int k = packets_.DetectByte(ch);
  if (k >= 0) DeliverPacket(k);
  return k;
}

void TvxDataProtocol::ResetPackets() {
  packets_.ResetAll();
}

bool TvxDataProtocol::PacketPending() {
  return packets_.Pending();
}

}  // namespace vxcomm
