// Construction of TvxXModem; the session's start, end, abort and cancel, and how received
// bytes and timer ticks reach the sender or the receiver.
#include "vxcomm/vxxmodem.h"

namespace vxcomm {

using namespace vxxmodem;

namespace {

// CAN bytes sent to end a session: two cancel it, more make sure of it on a bad line.
constexpr int kCancelCount = 5;

}  // namespace

TvxXModem::TvxXModem(QObject* owner) : TvxCustomFileTransfer(owner) {
  SetLogPrefix("vxXModem: ");
  SetTimeout(10000);
  SetErrorLimit(10);
}

TvxXModem::~TvxXModem() {
  Destroying();
}

void TvxXModem::StartSession(TStep step, bool sending) {
  ForgetHandlerFailure();
  step_ = step;
  reader_.Reset();
  repeats_ = 0;
  can_ = false;
  send_number_ = 1;
  eot_naked_ = false;
  expected_ = 1;
  held_.clear();
  eot_seen_ = false;
  start_tries_ = 0;
  SetErrorCount(0);
  ResetRetries();
  BeginSessionResult(sending, sending ? 1 : 0);
  SetConsumeData(true);
  SetState(sending ? fsSend : fsReceive);
}

void TvxXModem::EndSession() {
  step_ = TStep::kIdle;
  StartTimer(0);
  SetConsumeData(false);
  SetState(fsListen);
  EndSessionResult(true, {});
}

void TvxXModem::AbortTransfer(const std::string& reason) {
  const bool running = State() != fsListen;
  if (step_ != TStep::kIdle) SendCancel();
  step_ = TStep::kIdle;
  // XMODEM cannot resume a file: what was received of it goes.
  KeepIncomingPartial(false);
  TvxCustomFileTransfer::AbortTransfer(reason);
  CloseTransferFile();
  StartTimer(0);
  SetConsumeData(false);
  if (running) EndSessionResult(false, reason);
}

void TvxXModem::SkipFile(bool skipAll, bool deleteFile) {
  TvxCustomFileTransfer::SkipFile(skipAll, deleteFile);
  if (State() == fsListen) return;
  SetFileOutcome(foSkippedByUs, "skipped by this side");
  AbortTransfer("The file was skipped; XMODEM ends the session with it.");
}

void TvxXModem::PeerCancelled() {
  // The peer is gone from the session: no CAN goes back.
  step_ = TStep::kIdle;
  AbortTransfer("The peer cancelled the transfer.");
}

void TvxXModem::SendCancel() {
  const std::vector<std::uint8_t> cancel(kCancelCount, kCan);
  DoDataSend(cancel.data(), static_cast<Cardinal>(cancel.size()));
}

void TvxXModem::FileFailure(const std::string& what) {
  RaiseFatalError(17, kFileFailure, what);
}

void TvxXModem::Arm(int ms) {
  StartTimer(static_cast<Cardinal>(ms > 0 ? ms : 1));
}

void TvxXModem::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
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

void TvxXModem::DoTimer(TObject* sender) {
  // The packet detector's tick is not ours: XMODEM times its own waits.
  TvxCustomDataProcessor::DoTimer(sender);
  if (State() == fsSend)
    SenderTimedOut();
  else if (State() == fsReceive)
    ReceiverTimedOut();
  ReportHandlerFailure();
}

void TvxXModem::ResetPackets() {
  if (State() != fsListen) AbortTransfer("The line closed during the transfer.");
  TvxCustomFileTransfer::ResetPackets();
}

}  // namespace vxcomm
