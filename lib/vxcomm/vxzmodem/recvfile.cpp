// The receiving side of TvxZModem at a ZFILE: the file's name, length and date read from
// its subpacket (the same fields as YMODEM's block 0), the file opened under its name in
// DefaultPath through the file-transfer base (with Resume, appended to from the part an
// earlier session left), or skipped with ZSKIP when refused. Another
// file announced inside one ends that one short.
#include <algorithm>
#include <limits>

#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxymodem/header.h"
#include "vxcomm/vxzmodem.h"

namespace vxcomm {

using namespace vxzmodem;

namespace {

// The largest file ZMODEM's 32-bit positions reach.
constexpr std::int64_t kMaxLength = std::numeric_limits<std::uint32_t>::max();

}  // namespace

void TvxZModem::TakeFileInfo() {
  const std::vector<std::uint8_t>& data = reader_.Data();
  if (FileStream() && data == info_) {
    // The sender missed our ZRPOS and announced the file again.
    ++repeats_;
    step_ = TStep::kRecvData;
    return AskFrom();
  }
  if (FileStream()) {
    // Another file: the sender gave this one up short of its end.
    LogMsg(dlSimple, "The sender ended " + FileName() + " at " + std::to_string(pos_) + " of its " +
                         std::to_string(length_) + " bytes and goes on with the next file.");
    SetFileOutcome(foSkippedByPeer, "ended by the sender short of its length");
    DiscardIncomingFile();
    // A handler of the file's end may have ended the session.
    if (!running_) return;
  }
  skipping_ = false;
  const std::optional<vxymodem::THeader> header = vxymodem::ParseHeader(data.data(), data.size());
  if (!header || header->name.empty())
    return Violation("A ZFILE has a name or fields that cannot be read.");
  if (header->length > kMaxLength)
    return FileFailure(header->name + " has " + std::to_string(header->length) +
                       " bytes, more than ZMODEM's positions reach.");
  // Asks that went unanswered before the sender started are no errors of the transfer.
  if (!file_done_) SetErrorCount(0);
  info_ = data;
  OpenFile(header->name, header->length, header->modified);
}

void TvxZModem::OpenFile(const std::string& sentName, std::int64_t length, std::int64_t modified) {
  const std::string name = vxkermit::ReceivedFileName(sentName);
  if (name != sentName)
    LogMsg(dlSimple, "The sender's name " + sentName + " is taken as " + name + ".");
  bool kept = false;
  try {
    kept = OpenIncomingFile(name, resume_);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  // A handler of the file's start may have ended the session.
  if (!running_) return;
  KeepIncomingPartial(resume_);
  if (skip_all_) return SkipIncoming();
  const std::string refusal = IncomingRefusal(modified);
  if (!refusal.empty()) {
    // Refused (its outcome: discarded); the sender goes on with the next file.
    RefuseIncomingFile(refusal);
    if (!running_) return;
    step_ = TStep::kRecvInit;
    reader_.Reset();
    SendHex(THeader::At(ZSKIP, 0));
    return Arm(Timeout());
  }
  try {
    pos_ = ResumeFrom(kept, length);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  from_ = pos_;
  length_ = length;
  modified_ = modified;
  constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
  SetReceivedSize(std::min(std::max<std::int64_t>(length, 0), kIntMax));
  SetTotalSize(std::max<std::int64_t>(length, 0));
  LogMsg(dlSimple, "Receiving " + FileName() +
                       (length >= 0 ? ", " + std::to_string(length) + " bytes" : std::string()));
  step_ = TStep::kRecvData;
  ResetRetries();
  AskFrom();
}

std::int64_t TvxZModem::ResumeFrom(bool kept, std::int64_t length) {
  if (!kept) return 0;
  const std::int64_t held = FileStream()->Size();
  // Only a part an earlier session left is appended to, and only one the file can extend.
  if (IncomingInPlace() || length < 0 || held > length) {
    if (!IncomingInPlace())
      LogMsg(dlSimple, FileName() + " holds " + std::to_string(held) + " bytes, more than the " +
                           std::to_string(length) + " announced: it is received whole.");
    RestartIncomingFile();
    return 0;
  }
  FileStream()->Seek(held);
  LogMsg(dlSimple, "Resuming " + FileName() + " from byte " + std::to_string(held) + ".");
  return held;
}

}  // namespace vxcomm
