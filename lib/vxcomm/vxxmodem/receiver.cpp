// The receiving side of TvxXModem: asks the sender to start, takes blocks in sequence
// (a block sent again is acknowledged and not written twice), and stores the file at EOT.
#include "vxcomm/vxxmodem.h"

namespace vxcomm {

using namespace vxxmodem;

void TvxXModem::ReceiveFile() {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running.");
  if (receive_name_.empty())
    return RaiseFatalError(17, kNoReceiveName, "There is no name to receive the file under.");
  StartSession(TStep::kRecvStart, false);
  try {
    OpenIncomingFile(receive_name_, false);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  KeepIncomingPartial(false);
  const std::string refusal = IncomingRefusal(-1);
  if (!refusal.empty()) {
    RefuseIncomingFile(refusal);
    return FileFailure(refusal);
  }
  LogMsg(dlSimple, "Receiving " + FileName());
  AskToStart();
}

void TvxXModem::AskToStart() {
  ++start_tries_;
  reader_.SetCrc(crc_ && start_tries_ <= CrcStartTries);
  Answer(reader_.Crc() ? kCrcStart : kNak);
}

void TvxXModem::TakeBadBlock() {
  eot_seen_ = false;
  if (CountError()) Purge();
}

void TvxXModem::TakeBlock() {
  eot_seen_ = false;
  const std::uint8_t number = reader_.Number();
  if (step_ == TStep::kRecvStart) {
    // Asks that went unanswered before the sender started are no errors of the transfer.
    step_ = TStep::kRecvBlock;
    SetErrorCount(0);
  }
  if (!held_.empty() && number == static_cast<std::uint8_t>(expected_ - 1)) {
    // Our ACK was lost: the sender sent the block again.
    ++repeats_;
    return Answer(kAck);
  }
  if (number != expected_)
    return RaiseFatalError(17, kProtocolViolation,
                           "Block " + std::to_string(number) + " arrived where block " +
                               std::to_string(expected_) + " was expected.");
  try {
    WriteHeld();
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  held_.assign(reader_.Data(), reader_.Data() + reader_.Size());
  ++expected_;
  ResetRetries();
  Answer(kAck);
  DoProgress();
}

void TvxXModem::WriteHeld() {
  if (held_.empty()) return;
  FileStream()->Write(held_.data(), static_cast<std::int64_t>(held_.size()));
}

void TvxXModem::TakeEot() {
  // A lone EOT may be a damaged byte: it counts once the sender repeats it.
  if (!eot_seen_) {
    eot_seen_ = true;
    return Answer(kNak);
  }
  if (strip_padding_)
    while (!held_.empty() && held_.back() == kSub) held_.pop_back();
  try {
    WriteHeld();
    held_.clear();
    // Whatever the disk defers shows here, before the file is reported complete.
    FileStream()->Sync();
    SetFileOutcome(foComplete);
    StoreIncomingFile(-1, -1);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  // Acknowledged only once the file is stored under its name.
  const std::uint8_t ack = kAck;
  DoDataSend(&ack, 1);
  LogMsg(dlSimple, "EOT: the file is stored as " + FileResult().name + ".");
  EndSession();
}

void TvxXModem::ReceiverTimedOut() {
  if (EndPurge()) {
    // The damaged block is behind us (its error is counted): ask for it again.
    step_ = TStep::kRecvBlock;
    return Answer(kNak);
  }
  switch (step_) {
    case TStep::kRecvStart:
      if (!CountError()) return;
      return AskToStart();
    default:
      // Silence inside a block (cut short) or where a block should come.
      reader_.Reset();
      if (!CountError()) return;
      LogMsg(dlDetail, "Timeout!");
      return Answer(kNak);
  }
}

}  // namespace vxcomm
