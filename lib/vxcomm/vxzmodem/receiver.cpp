// The receiving side of TvxZModem inside a file and around it: ZRINIT until the sender
// announces a file or ends, data subpackets written in order from the position this side
// holds (anything damaged or lost asks with ZRPOS for the data again from there), ZEOF
// checked against that position and the announced length, and ZFIN answered.
#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

void TvxZModem::ReceiveFiles() {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running.");
  StartSession(TStep::kRecvInit, false);
  LogMsg(dlSimple, "Receiving files.");
  SendReceiverInit();
}

void TvxZModem::SendReceiverInit() {
  std::uint8_t caps = kCanFdx | kCanOvio;
  if (crc32_) caps |= kCanFc32;
  if (escape_controls_) caps |= kEscCtl;
  // A buffer size of 0: the sender may stream the whole file.
  SendHex(THeader::Flags(ZRINIT, caps));
  Arm(Timeout());
}

void TvxZModem::AskFrom() {
  reader_.Reset();
  SendHex(THeader::At(ZRPOS, static_cast<std::uint32_t>(pos_)));
  Arm(Timeout());
}

void TvxZModem::ReceiverHeader(const THeader& header) {
  switch (header.type) {
    case ZRQINIT:
      if (step_ == TStep::kRecvInit) SendReceiverInit();
      return;
    case ZSINIT:
      if (step_ != TStep::kRecvInit) return;
      sinit_flags_ = header.F(0);
      step_ = TStep::kRecvSinit;
      return reader_.ExpectSubpacket();
    case ZFILE:
      if (step_ != TStep::kRecvInit && step_ != TStep::kRecvData) return;
      // In a file, the sender missed our ZRPOS: the same ZFILE again.
      crc32_in_use_ = reader_.Form() == THeaderForm::kBin32;
      step_ = TStep::kRecvFileInfo;
      return reader_.ExpectSubpacket();
    case ZDATA:
      // The data of the file skipped last: the sender did not hear the ZSKIP.
      if (step_ == TStep::kRecvInit && skipping_) return SendHex(THeader::At(ZSKIP, 0));
      if (step_ != TStep::kRecvData) return;
      crc32_in_use_ = reader_.Form() == THeaderForm::kBin32;
      if (header.Position() == pos_) return reader_.ExpectSubpacket();
      // Data from elsewhere in the file: ask again from where this side is.
      LogMsg(dlDetail, "Data from " + std::to_string(header.Position()) + " where " +
                           std::to_string(pos_) + " is held.");
      if (!CountError()) return;
      ++repeats_;
      return AskFrom();
    case ZEOF:
      return TakeEof(header.Position());
    case ZFIN:
      return TakeFin();
    case ZFREECNT:
      if (step_ == TStep::kRecvInit) AnswerFreeCount();
      return;
    case ZCOMMAND:
      return Violation("The sender asked for a command to be run; this side runs none.");
    default:
      return;
  }
}

void TvxZModem::TakeFin() {
  if (FileStream()) {
    return FileFailure("The sender ended the session inside " + FileName() + " at " +
                       std::to_string(pos_) + " of its " + std::to_string(length_) + " bytes.");
  }
  if (step_ != TStep::kRecvInit && step_ != TStep::kRecvFinish) return;
  if (step_ == TStep::kRecvInit) LogMsg(dlSimple, "The sender ended the session.");
  step_ = TStep::kRecvFinish;
  SendHex(THeader::At(ZFIN, 0));
  // The sender's "OO" closes the session; without it, the time-out does.
  Arm(Timeout());
}

void TvxZModem::ReceiverSubpacket() {
  switch (step_) {
    case TStep::kRecvSinit:
      // The sender escapes every control character: our hex headers have none to escape.
      if (sinit_flags_ & kTEscCtl) LogMsg(dlDetail, "The sender escapes every control character.");
      step_ = TStep::kRecvInit;
      reader_.Reset();
      SendHex(THeader::At(ZACK, 1));
      return Arm(Timeout());
    case TStep::kRecvFileInfo:
      return TakeFileInfo();
    case TStep::kRecvData:
      return TakeData();
    default:
      reader_.Reset();
      return;
  }
}

void TvxZModem::TakeData() {
  const std::vector<std::uint8_t>& data = reader_.Data();
  const auto count = static_cast<std::int64_t>(data.size());
  // No sender sends past the length it announced.
  if (length_ >= 0 && pos_ + count > length_)
    return Violation("Data past the " + std::to_string(length_) + " bytes of " + FileName() +
                     " arrived.");
  try {
    FileStream()->Write(data.data(), count);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  pos_ += count;
  ResetRetries();
  DoProgress();
  // A handler of the progress may have ended the session or skipped the file.
  if (!running_ || step_ != TStep::kRecvData) return;
  const std::uint8_t end = reader_.End();
  if (end == kZCrcQ || end == kZCrcW) SendHex(THeader::At(ZACK, static_cast<std::uint32_t>(pos_)));
  Arm(Timeout());
}

void TvxZModem::TakeEof(std::uint32_t position) {
  if (step_ == TStep::kRecvInit) {
    // The skipped file's end: the sender did not hear the ZSKIP.
    if (skipping_) return SendHex(THeader::At(ZSKIP, 0));
    // The sender did not hear our ZRINIT after the file stored last.
    if (file_done_ && position == done_length_) SendReceiverInit();
    return;
  }
  if (step_ != TStep::kRecvData) return;
  // A ZEOF sent before our ZRPOS reached the sender: the data comes again.
  if (position != pos_) {
    LogMsg(dlDetail,
           "ZEOF at " + std::to_string(position) + " where " + std::to_string(pos_) + " is held.");
    return;
  }
  if (length_ >= 0 && pos_ != length_)
    return FileFailure("The sender ended " + FileName() + " at " + std::to_string(pos_) +
                       " of its " + std::to_string(length_) + " bytes.");
  try {
    // Whatever the disk defers shows here, before the file is reported complete.
    FileStream()->Sync();
    SetFileOutcome(foComplete);
    StoreIncomingFile(modified_, modified_);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  LogMsg(dlSimple, "ZEOF: the file is stored as " + FileResult().name + ".");
  // A handler of the file's end may have ended the session.
  if (!running_) return;
  file_done_ = true;
  done_length_ = pos_;
  step_ = TStep::kRecvInit;
  ResetRetries();
  SendReceiverInit();
}

void TvxZModem::ReceiverDamage() {
  switch (step_) {
    case TStep::kRecvData:
      if (!CountError()) return;
      ++repeats_;
      return AskFrom();
    case TStep::kRecvSinit:
    case TStep::kRecvFileInfo:
      // The sender sends its header and subpacket again.
      step_ = FileStream() ? TStep::kRecvData : TStep::kRecvInit;
      if (!CountError()) return;
      SendHex(THeader::At(ZNAK, 0));
      return Arm(Timeout());
    case TStep::kRecvInit:
      if (!CountError()) return;
      return SendReceiverInit();
    default:
      return;
  }
}

void TvxZModem::ReceiverTimedOut() {
  switch (step_) {
    case TStep::kRecvFinish:
      return EndSession();
    case TStep::kRecvInit:
      // Waiting for a file counts as a header's retry: a sender that never starts ends the
      // session after RetryLimit waits.
      if (!CountError()) return;
      LogMsg(dlDetail, "Timeout!");
      return SendReceiverInit();
    case TStep::kRecvSinit:
    case TStep::kRecvFileInfo:
      reader_.Reset();
      return ReceiverDamage();
    case TStep::kRecvData:
      LogMsg(dlDetail, "Timeout!");
      return ReceiverDamage();
    default:
      return;
  }
}

}  // namespace vxcomm
