// The sending side of TvxXModem: one file in blocks, each sent again on NAK or time-out,
// then EOT.
#include "vxcomm/vxxmodem.h"

namespace vxcomm {

using namespace vxxmodem;

void TvxXModem::SendFiles(const std::string& mask) {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running: " + mask + " waits.");
  BuildFileList(mask);
  if (FileList().Empty()) return RaiseFatalError(17, 6, "There are no files for transmission.");
  if (FileList().Count() > 1)
    return RaiseFatalError(17, kOneFileOnly,
                           "XMODEM sends one file per session; the mask names " +
                               std::to_string(FileList().Count()) + ".");
  LogMsg(dlSimple, mask);
  StartSession(TStep::kSendStart, true);
  try {
    OpenTransferFile(FileList().Strings(0), fmOpenRead);
    SetTotalSize(FileStream()->Size());
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  // The receiver starts the session.
  Arm(Timeout());
}

bool TvxXModem::SenderByte(std::uint8_t ch) {
  switch (step_) {
    case TStep::kSendStart:
      if (ch != kCrcStart && ch != kNak) return false;
      reader_.SetCrc(ch == kCrcStart);
      // The waits for the start were the start's: the first block has its own tries.
      ResetRetries();
      LogMsg(dlDetail, reader_.Crc() ? "The receiver asks for CRC-16."
                                     : "The receiver asks for the checksum.");
      SendNextBlock();
      return true;
    case TStep::kSendBlock:
      return TakeBlockAnswer(ch);
    case TStep::kSendEot:
      if (ch == kAck) {
        SenderDone();
        return true;
      }
      return TakeEotNak(ch);
    default:
      return false;
  }
}

void TvxXModem::SendNextBlock() {
  data_.resize(block_1k_ ? kLongBlock : kShortBlock);
  std::int64_t got = 0;
  try {
    got = FileStream()->Read(data_.data(), static_cast<std::int64_t>(data_.size()));
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  if (got == 0) {
    FrameEot();
    step_ = TStep::kSendEot;
    return SendCurrent();
  }
  const auto count = static_cast<std::size_t>(got);
  const std::size_t size = count > kShortBlock ? kLongBlock : kShortBlock;
  frame_ = FrameBlock(send_number_++, data_.data(), count, size, reader_.Crc());
  step_ = TStep::kSendBlock;
  SendCurrent();
}

void TvxXModem::SenderTimedOut() {
  if (!CountError()) return;
  if (step_ == TStep::kSendStart) {
    LogMsg(dlDetail, "Waiting for the receiver to start.");
    return Arm(Timeout());
  }
  LogMsg(dlDetail, "Timeout!");
  ++repeats_;
  SendCurrent();
}

void TvxXModem::SenderDone() {
  LogMsg(dlSimple, "EOT acknowledged: " + FileName());
  SetFileOutcome(foComplete);
  CloseTransferFile();
  EndSession();
}

}  // namespace vxcomm
