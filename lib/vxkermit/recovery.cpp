// Recovery of an interrupted transfer (RESEND): the sender announces "+R" in a file's A
// packet, the receiver answers with the bytes it already holds and appends the rest; the
// sender reads on from there.
#include "platform/fileopen.h"
#include "vxkermit.h"
#include "vxkermit/attributes.h"

using namespace vxkermit;

void TvxKermit::ResendFiles(const std::string& mask) {
  resend_next_ = true;
  SendFiles(mask);
}

bool TvxKermit::ResendingFile() const {
  return resend_ && recovery_agreed_ && !file_text_ &&
         (UnChar(init_params_[ipCapas]) & kCapasAttributes) != 0;
}

bool TvxKermit::ResumeSending(const std::uint8_t* data, std::size_t len) {
  if (!ResendingFile()) return true;
  TvxFileStream* file = FileStream();
  if (file == nullptr) return true;
  // A NAK for the next packet acknowledges the A packet but carries no length: the A goes
  // again until its acknowledgement says where the receiver's copy ends.
  if (data == nullptr) {
    if (CountRetry()) ResendLastPacket();
    return false;
  }
  const std::string name = FileName();
  // A refusal: nothing is resumed, and the receiver asks to skip the data as usual.
  if (len > 0 && data[0] == 'N') {
    LogMsg(dlDetail, "The receiver refuses " + name + ".");
    return true;
  }
  const std::int64_t held = ReadHeldLength(data, len);
  if (held < 0) {
    RaiseFatalError(17, kRecoveryFailure,
                    "The receiver's length of " + name + " cannot be read; nothing is resent.");
    return false;
  }
  try {
    const std::int64_t size = file->Size();
    // Appending from 0 or from any other place would leave a file that is neither.
    if (held > size) {
      RaiseFatalError(17, kRecoveryFailure,
                      "The receiver holds " + std::to_string(held) + " bytes of " + name +
                          ", more than its " + std::to_string(size) + ": it is not resent.");
      return false;
    }
    file->Seek(held);
  } catch (const EFileStreamError& e) {
    RaiseFatalError(17, kFileFailure, e.Message());
    return false;
  }
  recovered_ = held;
  LogMsg(dlSimple, "Resending " + name + " from byte " + std::to_string(held) + ".");
  return true;
}

void TvxKermit::OpenReceivedFile(const std::string& name) {
  recovered_ = 0;
  attributes_reply_.clear();
  kept_file_ = false;
  const std::string path = DefaultPath() + name;
  // Its fate is decided by the A packet: only "+R" keeps what it holds.
  const bool keep = recovery_agreed_ && vxFileExists(path);
  OpenTransferFile(name, keep ? fmOpenReadWrite : fmCreate);
  kept_file_ = keep;
}

void TvxKermit::EmptyKeptFile() {
  if (!kept_file_) return;
  kept_file_ = false;
  if (TvxFileStream* file = FileStream()) file->SetSize(0);
}

void TvxKermit::SettleReceivedFile() {
  // A text file's stored bytes are not the sender's: it is received whole.
  const bool asked = recovery_agreed_ && !file_text_ && AsksRecovery(RecvData(), RecvDataLen());
  TvxFileStream* file = FileStream();
  try {
    if (!asked || file == nullptr) {
      EmptyKeptFile();
      return;
    }
    std::int64_t held = 0;
    if (kept_file_) {
      kept_file_ = false;
      held = file->Size();
      const std::int64_t exact = ExactSize(RecvData(), RecvDataLen());
      // Not a part of the file announced: it is received whole instead.
      if (exact >= 0 && held > exact) {
        LogMsg(dlSimple, FileName() + " holds " + std::to_string(held) + " bytes, more than the " +
                             std::to_string(exact) + " announced: it is received whole.");
        file->SetSize(0);
        held = 0;
      }
      file->Seek(held);
    }
    recovered_ = held;
    attributes_reply_ = HeldLengthReply(held);
    if (held > 0)
      LogMsg(dlSimple, "Recovering " + FileName() + " from byte " + std::to_string(held) + ".");
  } catch (const EFileStreamError& e) {
    RaiseFatalError(17, kFileFailure, e.Message());
  }
}
