#include "vxcomm/vxxmodem/blocktransfer.h"

#include <algorithm>
#include <limits>

namespace vxcomm {

using namespace vxxmodem;

namespace {

// CAN bytes sent to end a session: two cancel it, more make sure of it on a bad line.
constexpr int kCancelCount = 5;
// The silence that ends the rest of a damaged block, at most.
constexpr int kPurgeMs = 100;

}  // namespace

TvxBlockTransfer::TvxBlockTransfer(QObject* owner, const std::string& protocol,
                                   const std::string& logPrefix)
    : TvxCustomFileTransfer(owner), protocol_(protocol) {
  SetLogPrefix(logPrefix);
  SetTimeout(10000);
  // Ten tries for one block, as these protocols' peers allow; a long transfer on a noisy line
  // is not cut short by the errors it met on the way.
  SetRetryLimit(10);
  SetErrorLimit(std::numeric_limits<int>::max());
}

void TvxBlockTransfer::StartBlockSession(bool sending, int listed) {
  ForgetHandlerFailure();
  running_ = true;
  purging_ = false;
  can_ = false;
  reader_.Reset();
  repeats_ = 0;
  SetErrorCount(0);
  ResetRetries();
  BeginSessionResult(sending, listed);
  SetConsumeData(true);
  SetState(sending ? fsSend : fsReceive);
}

void TvxBlockTransfer::EndSession() {
  running_ = false;
  StartTimer(0);
  SetConsumeData(false);
  SetState(fsListen);
  EndSessionResult(true, {});
}

void TvxBlockTransfer::AbortTransfer(const std::string& reason) {
  const bool running = State() != fsListen;
  if (running_) SendCancel();
  running_ = false;
  // The file cannot be resumed: what was received of it goes.
  KeepIncomingPartial(false);
  TvxCustomFileTransfer::AbortTransfer(reason);
  CloseTransferFile();
  StartTimer(0);
  SetConsumeData(false);
  if (running) EndSessionResult(false, reason);
}

void TvxBlockTransfer::SkipFile(bool skipAll, bool deleteFile) {
  TvxCustomFileTransfer::SkipFile(skipAll, deleteFile);
  if (State() == fsListen) return;
  SetFileOutcome(foSkippedByUs, "skipped by this side");
  AbortTransfer("The file was skipped; " + protocol_ + " ends the session with it.");
}

void TvxBlockTransfer::PeerCancelled() {
  // The peer is gone from the session: no CAN goes back.
  running_ = false;
  AbortTransfer("The peer cancelled the transfer.");
}

void TvxBlockTransfer::SendCancel() {
  const std::vector<std::uint8_t> cancel(kCancelCount, kCan);
  DoDataSend(cancel.data(), static_cast<Cardinal>(cancel.size()));
}

void TvxBlockTransfer::FileFailure(const std::string& what) {
  RaiseFatalError(17, kFileFailure, what);
}

void TvxBlockTransfer::Arm(int ms) {
  StartTimer(static_cast<Cardinal>(ms > 0 ? ms : 1));
}

void TvxBlockTransfer::Answer(std::uint8_t ch) {
  DoDataSend(&ch, 1);
  Arm(Timeout());
}

void TvxBlockTransfer::SendCurrent() {
  DoDataSend(frame_.data(), static_cast<Cardinal>(frame_.size()));
  Arm(Timeout());
}

void TvxBlockTransfer::RepeatCurrent() {
  if (!CountError()) return;
  ++repeats_;
  SendCurrent();
}

bool TvxBlockTransfer::TakeBlockAnswer(std::uint8_t ch) {
  if (ch == kAck) {
    ResetRetries();
    DoProgress();
    SendNextBlock();
    return true;
  }
  if (ch != kNak) return false;
  RepeatCurrent();
  return true;
}

bool TvxBlockTransfer::TakeEotNak(std::uint8_t ch) {
  // A receiver may NAK the first EOT to be sure of it; later ones are errors.
  if (ch != kNak) return false;
  EotRefused();
  return true;
}

void TvxBlockTransfer::FrameEot() {
  frame_.assign(1, kEot);
  eot_refused_ = false;
}

void TvxBlockTransfer::EotRefused() {
  if (eot_refused_ && !CountError()) return;
  eot_refused_ = true;
  SendCurrent();
}

void TvxBlockTransfer::ReceiverByte(std::uint8_t ch) {
  switch (reader_.Take(ch)) {
    case TReadEvent::kNone:
      return;
    case TReadEvent::kCancel:
      return PeerCancelled();
    case TReadEvent::kEot:
      return TakeEot();
    case TReadEvent::kBadBlock:
      return TakeBadBlock();
    case TReadEvent::kBlock:
      return TakeBlock();
  }
}

void TvxBlockTransfer::Purge() {
  purging_ = true;
  reader_.Reset();
  purge_clock_.start();
  Arm(std::min(kPurgeMs, Timeout()));
}

void TvxBlockTransfer::ExtendPurge() {
  // A line that never falls silent ends the purge after Timeout all the same.
  if (purge_clock_.elapsed() < Timeout()) Arm(std::min(kPurgeMs, Timeout()));
}

bool TvxBlockTransfer::EndPurge() {
  const bool was = purging_;
  purging_ = false;
  return was;
}

void TvxBlockTransfer::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
  if (Active() && running_ && buffer) {
    handled = true;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (Cardinal i = 0; i < len && running_; ++i) {
      if (State() == fsSend) {
        const bool can = bytes[i] == kCan;
        if (can && can_) {
          PeerCancelled();
          break;
        }
        can_ = can;
        if (!can && SenderByte(bytes[i])) break;
      } else if (purging_) {
        // What follows a damaged block is its rest: only the line's silence ends the purge.
        ExtendPurge();
        break;
      } else {
        ReceiverByte(bytes[i]);
      }
    }
    // Inside a block the reply time-out is the line's silence.
    if (State() == fsReceive && reader_.InBlock()) Arm(Timeout());
    ReportHandlerFailure();
  }
  TvxCustomFileTransfer::DoDataReceived(buffer, len, handled);
}

void TvxBlockTransfer::DoTimer(TObject* sender) {
  // The packet detector's tick is not ours: these protocols time their own waits.
  TvxCustomDataProcessor::DoTimer(sender);
  if (State() == fsSend)
    SenderTimedOut();
  else if (State() == fsReceive)
    ReceiverTimedOut();
  ReportHandlerFailure();
}

void TvxBlockTransfer::ResetPackets() {
  if (State() != fsListen) AbortTransfer("The line closed during the transfer.");
  TvxCustomFileTransfer::ResetPackets();
}

}  // namespace vxcomm
