// YMODEM-g's sending: the file's blocks go out without waiting for answers, a burst per
// timer tick so that the receiver's CAN is heard between bursts, then EOT.
#include "vxcomm/vxymodem.h"

namespace vxcomm {

namespace {

// Blocks sent per tick, and the pause between ticks.
constexpr int kBurstBlocks = 8;
constexpr int kBurstPauseMs = 1;

}  // namespace

void TvxYModem::SendStream() {
  // The block framed last is sent first.
  for (int sent = 0; sent < kBurstBlocks; ++sent) {
    DoDataSend(frame_.data(), static_cast<Cardinal>(frame_.size()));
    DoProgress();
    if (!FrameNextBlock()) return;
    if (step_ == TStep::kSendEot) return SendCurrent();
  }
  Arm(kBurstPauseMs);
}

}  // namespace vxcomm
