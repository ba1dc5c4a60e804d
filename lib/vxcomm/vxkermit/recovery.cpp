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
  return resend_ && record_.recovery_agreed && !file_.text && record_.attributes;
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
  file_.recovered = held;
  LogMsg(dlSimple, "Resending " + name + " from byte " + std::to_string(held) + ".");
  return true;
}

void TvxKermit::OpenReceivedFile(const std::string& name) {
  // Its fate is decided by the A packet: only "+R" appends to what the file holds.
  file_.kept = OpenIncomingFile(name, record_.recovery_agreed);
}

bool TvxKermit::SettleWithoutAttributes() {
  if (file_.settled) return !file_.refused;
  // Kept at its F packet for recovery, but no "+R" came: the old file stays as it was.
  if (file_.kept) RestartIncomingFile();
  file_.kept = false;
  return TakeReceivedFile(nullptr);
}

bool TvxKermit::TakeReceivedFile(char* attribute) {
  file_.settled = true;
  const std::string refusal = IncomingRefusal(file_.received_date, attribute);
  if (refusal.empty()) return true;
  file_.refused = true;
  RefuseIncomingFile(refusal);
  return false;
}

void TvxKermit::SettleReceivedFile() {
  // A text file's stored bytes are not the sender's: it is received whole.
  const bool asked =
      record_.recovery_agreed && !file_.text && AsksRecovery(RecvData(), RecvDataLen());
  if (FileStream() == nullptr) return;
  char attribute = 0;
  // The protocol's refusal: "N", with the attribute that decided it; the sender skips the file.
  auto refused = [&] {
    file_.attributes_reply = attribute ? std::string("N") + attribute : std::string("N");
  };
  try {
    if (asked && file_.kept) {
      file_.kept = false;
      // A part is appended to only when the file may take its name in the end.
      if (!TakeReceivedFile(&attribute)) return refused();
      TvxFileStream* file = FileStream();
      const std::int64_t held = file->Size();
      const std::int64_t exact = ExactSize(RecvData(), RecvDataLen());
      // Not a part of the file announced: it is received whole instead.
      if (exact < 0 || held <= exact) {
        file->Seek(held);
        file_.recovered = held;
        file_.attributes_reply = HeldLengthReply(held);
        if (held > 0)
          LogMsg(dlSimple, "Recovering " + FileName() + " from byte " + std::to_string(held) + ".");
        return;
      }
      LogMsg(dlSimple, FileName() + " holds " + std::to_string(held) + " bytes, more than the " +
                           std::to_string(exact) + " announced: it is received whole.");
      file_.kept = true;
      file_.settled = false;
    }
    if (file_.kept) RestartIncomingFile();
    file_.kept = false;
    if (!TakeReceivedFile(&attribute)) return refused();
    if (asked) file_.attributes_reply = HeldLengthReply(0);
  } catch (const EFileStreamError& e) {
    FailReceivedFile(e.Message());
  }
}

}  // namespace vxcomm
