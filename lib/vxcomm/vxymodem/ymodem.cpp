// Construction of TvxYModem; the session's start, end, abort and cancel, and how received
// bytes and timer ticks reach the sender or the receiver.
#include "vxcomm/vxymodem.h"

namespace vxcomm {

using namespace vxxmodem;

namespace {

// CAN bytes sent to end a session: two cancel it, more make sure of it on a bad line.
constexpr int kCancelCount = 5;

}  // namespace

TvxYModem::TvxYModem(QObject* owner) : TvxCustomFileTransfer(owner) {
  SetLogPrefix("vxYModem: ");
  SetTimeout(10000);
  SetErrorLimit(10);
}

TvxYModem::~TvxYModem() {
  Destroying();
}

void TvxYModem::StartSession(TStep step, bool sending) {
  ForgetHandlerFailure();
  step_ = step;
  reader_.Reset();
  reader_.SetCrc(true);
  streaming_in_use_ = !sending && streaming_;
  repeats_ = 0;
  can_ = false;
  next_file_ = 0;
  file_done_ = false;
  SetErrorCount(0);
  ResetRetries();
  BeginSessionResult(sending, sending ? FileList().Count() : 0);
  SetConsumeData(true);
  SetState(sending ? fsSend : fsReceive);
}

void TvxYModem::EndSession() {
  step_ = TStep::kIdle;
  StartTimer(0);
  SetConsumeData(false);
  SetState(fsListen);
  EndSessionResult(true, {});
}

void TvxYModem::AbortTransfer(const std::string& reason) {
  const bool running = State() != fsListen;
  if (step_ != TStep::kIdle) SendCancel();
  step_ = TStep::kIdle;
  // A YMODEM file cannot be resumed: what was received of it goes.
  KeepIncomingPartial(false);
  TvxCustomFileTransfer::AbortTransfer(reason);
  CloseTransferFile();
  StartTimer(0);
  SetConsumeData(false);
  if (running) EndSessionResult(false, reason);
}

void TvxYModem::SkipFile(bool skipAll, bool deleteFile) {
  TvxCustomFileTransfer::SkipFile(skipAll, deleteFile);
  if (State() == fsListen) return;
  SetFileOutcome(foSkippedByUs, "skipped by this side");
  AbortTransfer("The file was skipped; YMODEM ends the session with it.");
}

void TvxYModem::PeerCancelled() {
  // The peer is gone from the session: no CAN goes back.
  step_ = TStep::kIdle;
  AbortTransfer("The peer cancelled the transfer.");
}

void TvxYModem::SendCancel() {
  const std::vector<std::uint8_t> cancel(kCancelCount, kCan);
  DoDataSend(cancel.data(), static_cast<Cardinal>(cancel.size()));
}

void TvxYModem::FileFailure(const std::string& what) {
  RaiseFatalError(17, kFileFailure, what);
}

void TvxYModem::Arm(int ms) {
  StartTimer(static_cast<Cardinal>(ms > 0 ? ms : 1));
}

void TvxYModem::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
  if (Active() && step_ != TStep::kIdle && buffer) {
    handled = true;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (Cardinal i = 0; i < len && step_ != TStep::kIdle; ++i) {
      if (State() == fsSend) {
        if (SenderByte(bytes[i])) break;
      } else if (step_ == TStep::kRecvPurge) {
        // What follows a damaged block is its rest: only the line's silence ends the purge.
        ExtendPurge();
        break;
      } else {
        ReceiverBlock(bytes[i]);
      }
    }
    // Inside a block the reply time-out is the line's silence.
    if (State() == fsReceive && reader_.InBlock()) Arm(Timeout());
    ReportHandlerFailure();
  }
  TvxCustomFileTransfer::DoDataReceived(buffer, len, handled);
}

void TvxYModem::DoTimer(TObject* sender) {
  // The packet detector's tick is not ours: YMODEM times its own waits.
  TvxCustomDataProcessor::DoTimer(sender);
  if (State() == fsSend)
    SenderTimedOut();
  else if (State() == fsReceive)
    ReceiverTimedOut();
  ReportHandlerFailure();
}

void TvxYModem::ResetPackets() {
  if (State() != fsListen) AbortTransfer("The line closed during the transfer.");
  TvxCustomFileTransfer::ResetPackets();
}

}  // namespace vxcomm
