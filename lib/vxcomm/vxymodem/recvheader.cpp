// The receiving side of TvxYModem at block 0: the end of the batch, or the next file opened
// under its name in DefaultPath through the file-transfer base.
#include <algorithm>
#include <limits>

#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxymodem.h"
#include "vxcomm/vxymodem/header.h"

namespace vxcomm {

using namespace vxxmodem;
using namespace vxymodem;

void TvxYModem::TakeHeader() {
  const std::uint8_t* data = reader_.Data();
  if (step_ == TStep::kRecvBlock) {
    // Our ACK of block 0 was lost: the sender sent it again, the same.
    if (!std::equal(header_.begin(), header_.end(), data, data + reader_.Size()))
      return RaiseFatalError(17, kProtocolViolation,
                             "A different block 0 arrived before the data of " + FileName() + ".");
    ++repeats_;
    Answer(kAck);
    return AskToStart();
  }
  const std::optional<THeader> header = ParseHeader(data, reader_.Size());
  if (!header)
    return RaiseFatalError(17, kProtocolViolation, "Block 0 has fields that cannot be read.");
  // Asks that went unanswered before the sender started are no errors of the transfer.
  if (!file_done_) SetErrorCount(0);
  if (header->name.empty()) {
    const std::uint8_t ack = kAck;
    DoDataSend(&ack, 1);
    LogMsg(dlSimple, "The sender ended the batch.");
    return EndSession();
  }
  header_.assign(data, data + reader_.Size());
  OpenFile(header->name, header->length, header->modified);
}

void TvxYModem::OpenFile(const std::string& sentName, std::int64_t length, std::int64_t modified) {
  const std::string name = vxkermit::ReceivedFileName(sentName);
  if (name != sentName)
    LogMsg(dlSimple, "The sender's name " + sentName + " is taken as " + name + ".");
  try {
    OpenIncomingFile(name, false);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  KeepIncomingPartial(false);
  const std::string refusal = IncomingRefusal(modified);
  if (!refusal.empty()) {
    RefuseIncomingFile(refusal);
    return FileFailure(refusal);
  }
  length_ = length;
  modified_ = modified;
  written_ = 0;
  expected_ = 1;
  got_block_ = false;
  eot_seen_ = false;
  constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
  SetReceivedSize(std::min(std::max<std::int64_t>(length, 0), kIntMax));
  SetTotalSize(std::max<std::int64_t>(length, 0));
  LogMsg(dlSimple, "Receiving " + FileName() +
                       (length >= 0 ? ", " + std::to_string(length) + " bytes" : std::string()));
  step_ = TStep::kRecvBlock;
  ResetRetries();
  Answer(kAck);
  AskToStart();
}

}  // namespace vxcomm
