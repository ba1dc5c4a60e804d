// The sending side of TvxZModem in a file's data: from the position the receiver asks for,
// a ZDATA header and subpackets ended by ZCRCG, a burst per timer tick while the medium's
// output queue is short (so that the receiver's ZRPOS is heard between bursts and little
// stale data waits to leave), the last one ended by ZCRCE and followed by ZEOF. A receiver
// that gives a buffer size gets segments of that size ended by ZCRCW, each acknowledged.
#include <algorithm>

#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

namespace {

// Subpackets framed per tick, the queue below which a burst goes, and the pause between.
constexpr int kBurstSubpackets = 16;
constexpr Cardinal kQueueBytes = 16 * 1024;
constexpr int kBurstPauseMs = 1;

}  // namespace

void TvxZModem::StartData(std::uint32_t position) {
  if (position > FileStream()->Size())
    return Violation("The receiver asked for the data of " + FileName() + " from " +
                     std::to_string(position) + ", past its " +
                     std::to_string(FileStream()->Size()) + " bytes.");
  try {
    FileStream()->Seek(position);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  send_pos_ = position;
  segment_ = 0;
  if (send_pos_ == FileStream()->Size()) return SendEof();
  SendBinary(THeader::At(ZDATA, position));
  step_ = TStep::kSendData;
  SendBurst();
}

void TvxZModem::SendBurst() {
  TvxBaseIO* io = IOComponent();
  const std::int64_t size = FileStream()->Size();
  for (int n = 0; n < kBurstSubpackets; ++n) {
    if (io && io->OutQueueCount() > kQueueBytes) break;
    std::int64_t want = std::min<std::int64_t>(block_, size - send_pos_);
    if (rx_buffer_ > 0) want = std::min<std::int64_t>(want, rx_buffer_ - segment_);
    chunk_.resize(static_cast<std::size_t>(want));
    std::int64_t got = 0;
    try {
      got = FileStream()->Read(chunk_.data(), want);
    } catch (const EFileStreamError& e) {
      return FileFailure(e.Message());
    }
    if (got != want)
      return FileFailure(FileName() + " ended at " + std::to_string(send_pos_ + got) + " of the " +
                         std::to_string(size) + " bytes it had.");
    send_pos_ += got;
    segment_ += got;
    const bool last = send_pos_ == size;
    const bool full = rx_buffer_ > 0 && segment_ >= rx_buffer_;
    const std::uint8_t end = last ? kZCrcE : (full ? kZCrcW : kZCrcG);
    encoder_.Subpacket(chunk_.data(), chunk_.size(), end, crc32_in_use_, out_);
    Flush();
    DoProgress();
    // A handler of the progress may have ended the session or skipped the file.
    if (!running_ || step_ != TStep::kSendData) return;
    if (last) return SendEof();
    if (full) {
      step_ = TStep::kSendWait;
      return Arm(Timeout());
    }
  }
  Arm(kBurstPauseMs);
}

void TvxZModem::SendEof() {
  step_ = TStep::kSendEof;
  SendBinary(THeader::At(ZEOF, static_cast<std::uint32_t>(FileStream()->Size())));
  Arm(Timeout());
}

}  // namespace vxcomm
