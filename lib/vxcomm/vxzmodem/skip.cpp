// SkipFile on TvxZModem: one file ends, the batch goes on. Receiving, the file's data is
// answered with ZSKIP, what arrived of it removed, and with skip-all every later ZFILE is
// answered so too, until the sender's ZFIN. Sending, the file's data ends where it is (an
// empty ZCRCE subpacket closes the frame) and the next file's ZFILE follows instead of ZEOF,
// or ZFIN when no file is left.
#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

void TvxZModem::SkipFile(bool skipAll, bool deleteFile) {
  TvxCustomFileTransfer::SkipFile(skipAll, deleteFile);
  if (!running_) return;
  if (State() == fsSend) return SkipSending(skipAll);
  if (skipAll) skip_all_ = true;
  if (FileStream()) SkipIncoming();
}

void TvxZModem::SkipIncoming() {
  SetFileOutcome(foSkippedByUs, "skipped by this side");
  DiscardIncomingFile();
  // A handler of the file's end may have ended the session.
  if (!running_) return;
  LogMsg(dlSimple, "ZSKIP: the file is skipped.");
  skipping_ = true;
  step_ = TStep::kRecvInit;
  reader_.Reset();
  ResetRetries();
  SendHex(THeader::At(ZSKIP, 0));
  Arm(Timeout());
}

void TvxZModem::SkipSending(bool skipAll) {
  // The files not yet announced are not sent.
  if (skipAll) next_file_ = FileList().Count();
  switch (step_) {
    case TStep::kSendData:
      encoder_.Subpacket(chunk_.data(), 0, kZCrcE, crc32_in_use_, out_);
      Flush();
      break;
    case TStep::kSendFile:
    case TStep::kSendWait:
      break;
    default:
      // Between files, or all the data went (the receiver's answer to ZEOF decides).
      return;
  }
  LogMsg(dlSimple, "The file is skipped: " + FileName());
  FileSent(foSkippedByUs, "skipped by this side");
}

}  // namespace vxcomm
