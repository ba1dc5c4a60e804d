// Recovery of an interrupted transfer (RESEND): the sender announces "+R" in a file's A
// packet, the receiver answers with the bytes it already holds and appends the rest; the
// sender reads on from there.
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/attributes.h"

namespace vxcomm {

using namespace vxkermit;

void TvxKermit::ResendFiles(const std::string& mask) {
  resend_next_ = true;
  SendFiles(mask);
}

bool TvxKermit::ResendingFile() const {
  return resend_ && record_.recovery_agreed && !file_text_ && record_.attributes;
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
  run_.refused_file = false;
  settled_file_ = false;
  // Its fate is decided by the A packet: only "+R" appends to what the file holds.
  kept_file_ = OpenIncomingFile(name, record_.recovery_agreed);
}

bool TvxKermit::SettleWithoutAttributes() {
  if (settled_file_) return !run_.refused_file;
  // Kept at its F packet for recovery, but no "+R" came: the old file stays as it was.
  if (kept_file_) RestartIncomingFile();
  kept_file_ = false;
  return TakeReceivedFile(nullptr);
}

bool TvxKermit::TakeReceivedFile(char* attribute) {
  settled_file_ = true;
  const std::string refusal = IncomingRefusal(received_date_, attribute);
  if (refusal.empty()) return true;
  run_.refused_file = true;
  RefuseIncomingFile(refusal);
  return false;
}

void TvxKermit::SettleReceivedFile() {
  // A text file's stored bytes are not the sender's: it is received whole.
  const bool asked =
      record_.recovery_agreed && !file_text_ && AsksRecovery(RecvData(), RecvDataLen());
  if (FileStream() == nullptr) return;
  char attribute = 0;
  // The protocol's refusal: "N", with the attribute that decided it; the sender skips the file.
  auto refused = [&] {
    attributes_reply_ = attribute ? std::string("N") + attribute : std::string("N");
  };
  try {
    if (asked && kept_file_) {
      kept_file_ = false;
      // A part is appended to only when the file may take its name in the end.
      if (!TakeReceivedFile(&attribute)) return refused();
      TvxFileStream* file = FileStream();
      const std::int64_t held = file->Size();
      const std::int64_t exact = ExactSize(RecvData(), RecvDataLen());
      // Not a part of the file announced: it is received whole instead.
      if (exact < 0 || held <= exact) {
        file->Seek(held);
        recovered_ = held;
        attributes_reply_ = HeldLengthReply(held);
        if (held > 0)
          LogMsg(dlSimple, "Recovering " + FileName() + " from byte " + std::to_string(held) + ".");
        return;
      }
      LogMsg(dlSimple, FileName() + " holds " + std::to_string(held) + " bytes, more than the " +
                           std::to_string(exact) + " announced: it is received whole.");
      kept_file_ = true;
      settled_file_ = false;
    }
    if (kept_file_) RestartIncomingFile();
    kept_file_ = false;
    if (!TakeReceivedFile(&attribute)) return refused();
    if (asked) attributes_reply_ = HeldLengthReply(0);
  } catch (const EFileStreamError& e) {
    FailReceivedFile(e.Message());
  }
}

}  // namespace vxcomm
