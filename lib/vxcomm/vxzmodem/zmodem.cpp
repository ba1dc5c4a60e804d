// Construction of TvxZModem and the session around its sender and receiver: its start and
// end, abort and the peer's cancel, and bytes and ticks handed to the side that runs.
#include <algorithm>
#include <limits>

#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

namespace {

// The cancel sequence: ZDLE (CAN) eight times, which five would do on a clean line, then
// backspaces that erase them on a terminal that echoes.
constexpr int kCancelZdle = 8;
constexpr int kCancelBackspaces = 10;

}  // namespace

TvxZModem::TvxZModem(QObject* owner) : TvxCustomFileTransfer(owner) {
  SetLogPrefix("vxZModem: ");
  SetTimeout(10000);
  SetRetryLimit(10);
  SetErrorLimit(std::numeric_limits<int>::max());
}

TvxZModem::~TvxZModem() {
  Destroying();
}

void TvxZModem::SetSubpacketSize(int value) {
  subpacket_size_ = std::clamp(value, kMinSubpacket, static_cast<int>(kMaxSubpacket));
}

void TvxZModem::StartSession(TStep step, bool sending) {
  ForgetHandlerFailure();
  step_ = step;
  running_ = true;
  repeats_ = 0;
  next_file_ = 0;
  rx_buffer_ = 0;
  file_done_ = false;
  skip_all_ = false;
  skipping_ = false;
  oo_ = 0;
  crc32_in_use_ = false;
  reader_.Reset();
  encoder_.SetEscapeControls(escape_controls_);
  SetErrorCount(0);
  ResetRetries();
  BeginSessionResult(sending, sending ? FileList().Count() : 0);
  SetConsumeData(true);
  SetState(sending ? fsSend : fsReceive);
}

void TvxZModem::EndSession() {
  running_ = false;
  step_ = TStep::kIdle;
  StartTimer(0);
  SetConsumeData(false);
  SetState(fsListen);
  EndSessionResult(true, {});
}

void TvxZModem::AbortTransfer(const std::string& reason) {
  const bool running = State() != fsListen;
  if (running_) {
    std::vector<std::uint8_t> cancel(kCancelZdle, kZDle);
    cancel.insert(cancel.end(), kCancelBackspaces, 0x08);
    DoDataSend(cancel.data(), static_cast<Cardinal>(cancel.size()));
  }
  running_ = false;
  step_ = TStep::kIdle;
  // What was received of a file stays for a later session only with Resume.
  KeepIncomingPartial(resume_);
  TvxCustomFileTransfer::AbortTransfer(reason);
  CloseTransferFile();
  StartTimer(0);
  SetConsumeData(false);
  if (running) EndSessionResult(false, reason);
}

std::int64_t TvxZModem::BytesCrossed() const {
  return std::max<std::int64_t>(GetFilePosition() - from_, 0);
}

void TvxZModem::PeerCancelled() {
  // The peer is gone from the session: no cancel goes back.
  running_ = false;
  AbortTransfer("The peer cancelled the transfer.");
}

void TvxZModem::FileFailure(const std::string& what) {
  RaiseFatalError(17, kFileFailure, what);
}

void TvxZModem::Violation(const std::string& what) {
  RaiseFatalError(17, kProtocolViolation, what);
}

void TvxZModem::Arm(int ms) {
  StartTimer(static_cast<Cardinal>(ms > 0 ? ms : 1));
}

void TvxZModem::Flush() {
  if (out_.empty()) return;
  DoDataSend(out_.data(), static_cast<Cardinal>(out_.size()));
  out_.clear();
}

void TvxZModem::SendHex(const THeader& header) {
  encoder_.Hex(header, out_);
  Flush();
}

void TvxZModem::SendBinary(const THeader& header) {
  encoder_.Binary(header, crc32_in_use_, out_);
  Flush();
}

void TvxZModem::TakeEvent(TFrameEvent event) {
  const bool sending = State() == fsSend;
  switch (event) {
    case TFrameEvent::kNone:
      return;
    case TFrameEvent::kCancel:
      return PeerCancelled();
    case TFrameEvent::kHeader:
      if (Logs(dlDetail))
        LogMsg(dlDetail, "Header " + std::to_string(reader_.Header().type) + " at " +
                             std::to_string(reader_.Header().Position()));
      return sending ? SenderHeader(reader_.Header()) : ReceiverHeader(reader_.Header());
    case TFrameEvent::kSubpacket:
      if (!sending) ReceiverSubpacket();
      return;
    case TFrameEvent::kBadHeader:
    case TFrameEvent::kBadSubpacket:
      LogMsg(dlDetail,
             event == TFrameEvent::kBadHeader ? "A damaged header." : "A damaged subpacket.");
      if (sending) {
        // A receiver repeats what it wants on its own time-out.
        CountError(false);
        return;
      }
      return ReceiverDamage();
  }
}

void TvxZModem::DoDataReceived(const void* buffer, Cardinal len, bool& handled) {
  if (Active() && running_ && buffer) {
    handled = true;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (Cardinal i = 0; i < len && running_; ++i) {
      if (step_ == TStep::kRecvFinish && bytes[i] == 'O') {
        if (++oo_ >= 2) {
          LogMsg(dlSimple, "The sender closed the session.");
          EndSession();
        }
        continue;
      }
      TakeEvent(reader_.Take(bytes[i]));
    }
    // Inside a subpacket the reply time-out is the line's silence.
    if (running_ && State() == fsReceive && reader_.InData()) Arm(Timeout());
    ReportHandlerFailure();
  }
  TvxCustomFileTransfer::DoDataReceived(buffer, len, handled);
}

void TvxZModem::DoTimer(TObject* sender) {
  // The packet detector's tick is not ours: this protocol times its own waits.
  TvxCustomDataProcessor::DoTimer(sender);
  if (running_ && State() == fsSend)
    SenderTimedOut();
  else if (running_ && State() == fsReceive)
    ReceiverTimedOut();
  ReportHandlerFailure();
}

void TvxZModem::ResetPackets() {
  if (State() != fsListen) AbortTransfer("The line closed during the transfer.");
  TvxCustomFileTransfer::ResetPackets();
}

}  // namespace vxcomm
