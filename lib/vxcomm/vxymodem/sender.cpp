// The sending side of TvxYModem: for each listed file, block 0 when the receiver asks, the
// data in blocks (each sent again on NAK or time-out) when it asks again, and EOT; then the
// empty block 0 that ends the batch.
#include "vxcomm/vxymodem.h"
#include "vxcomm/vxymodem/header.h"

namespace vxcomm {

using namespace vxxmodem;
using namespace vxymodem;

namespace {

bool IsStart(std::uint8_t ch) {
  return ch == kCrcStart || ch == kStreamStart;
}

}  // namespace

void TvxYModem::SendFiles(const std::string& mask) {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running: " + mask + " waits.");
  BuildFileList(mask);
  if (FileList().Empty()) return RaiseFatalError(17, 6, "There are no files for transmission.");
  LogMsg(dlSimple, mask);
  StartSession(TStep::kSendStart, true);
  // The receiver starts the session.
  Arm(Timeout());
}

bool TvxYModem::SenderByte(std::uint8_t ch) {
  switch (step_) {
    case TStep::kSendStart:
      if (!IsStart(ch)) return false;
      streaming_in_use_ = ch == kStreamStart;
      // The waits for the ask were the ask's: block 0 has its own tries.
      ResetRetries();
      SendHeader();
      return true;
    case TStep::kSendHeader:
      if (ch == kAck || (streaming_in_use_ && ch == kStreamStart)) {
        ResetRetries();
        step_ = TStep::kSendData;
        Arm(Timeout());
        // The ask for the data may follow in the same chunk; a 'G' alone is one.
        if (ch == kAck) return false;
        SendNextBlock();
        return true;
      }
      if (ch != kNak) return false;
      RepeatCurrent();
      return true;
    case TStep::kSendData:
      // A receiver that saw nothing of block 1 may ask with NAK.
      if (!IsStart(ch) && ch != kNak) return false;
      ResetRetries();
      SendNextBlock();
      return true;
    case TStep::kSendBlock:
      return TakeBlockAnswer(ch);
    case TStep::kSendEot:
      if (ch == kAck) {
        FileSent();
        // The ask for the next block 0 may follow in the same chunk.
        return false;
      }
      return TakeEotNak(ch);
    case TStep::kSendFinish:
      if (ch == kAck) {
        LogMsg(dlSimple, "The batch is acknowledged as ended.");
        EndSession();
        return true;
      }
      if (ch != kNak && !IsStart(ch)) return false;
      RepeatCurrent();
      return true;
    default:
      // Streaming: only a CAN matters until EOT.
      return false;
  }
}

bool TvxYModem::OpenNextFile() {
  while (next_file_ < FileList().Count()) {
    const std::string name = FileList().Strings(next_file_++);
    try {
      OpenTransferFile(name, fmOpenRead);
      SetTotalSize(FileStream()->Size());
      return true;
    } catch (const EFileStreamError& e) {
      PassOverFile(name, e.Message());
    }
  }
  return false;
}

void TvxYModem::SendHeader() {
  if (!OpenNextFile()) {
    // The batch is over: block 0 with no name.
    frame_ = FrameBlock(0, nullptr, 0, kShortBlock, true, 0);
    step_ = TStep::kSendFinish;
    return SendCurrent();
  }
  const std::vector<std::uint8_t> header =
      HeaderData(FileName(), TotalSize(), FileStream()->ModifiedTime());
  const std::size_t size = header.size() > kShortBlock ? kLongBlock : kShortBlock;
  frame_ = FrameBlock(0, header.data(), header.size(), size, true, 0);
  send_number_ = 1;
  step_ = TStep::kSendHeader;
  LogMsg(dlSimple, "Sending " + FileName());
  SendCurrent();
}

bool TvxYModem::FrameNextBlock() {
  data_.resize(kLongBlock);
  std::int64_t got = 0;
  try {
    got = FileStream()->Read(data_.data(), static_cast<std::int64_t>(data_.size()));
  } catch (const EFileStreamError& e) {
    FileFailure(e.Message());
    return false;
  }
  if (got == 0) {
    FrameEot();
    step_ = TStep::kSendEot;
    return true;
  }
  const auto count = static_cast<std::size_t>(got);
  const std::size_t size = count > kShortBlock ? kLongBlock : kShortBlock;
  frame_ = FrameBlock(send_number_++, data_.data(), count, size, true);
  step_ = streaming_in_use_ ? TStep::kSendStream : TStep::kSendBlock;
  return true;
}

void TvxYModem::SendNextBlock() {
  if (!FrameNextBlock()) return;
  if (step_ == TStep::kSendStream) return SendStream();
  SendCurrent();
}

void TvxYModem::FileSent() {
  LogMsg(dlSimple, "EOT acknowledged: " + FileName());
  DoProgress();
  SetFileOutcome(foComplete);
  CloseTransferFile();
  step_ = TStep::kSendStart;
  Arm(Timeout());
}

void TvxYModem::SenderTimedOut() {
  if (step_ == TStep::kSendStream) return SendStream();
  if (step_ == TStep::kSendFinish) {
    // Every file was acknowledged; a receiver may leave without its ACK of the batch's end
    // reaching the line (rb does), and one that missed the end asks again before this.
    LogMsg(dlSimple, "The batch's end was not acknowledged; every file was.");
    return EndSession();
  }
  const bool waiting = step_ == TStep::kSendStart || step_ == TStep::kSendData;
  if (!CountError()) return;
  if (waiting) {
    LogMsg(dlDetail, "Waiting for the receiver to ask.");
    return Arm(Timeout());
  }
  LogMsg(dlDetail, "Timeout!");
  ++repeats_;
  SendCurrent();
}

}  // namespace vxcomm
