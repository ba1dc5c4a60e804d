// The receiving side of TvxYModem between block 0s: asks the sender to start, takes data
// blocks in sequence (a block sent again is acknowledged and not written twice), writes no
// more than the announced length, and stores the file at EOT. Under YMODEM-g nothing is
// acknowledged but the EOT, and any damage ends the session.
#include <algorithm>

#include "vxcomm/vxymodem.h"
#include "vxcomm/vxymodem/header.h"

namespace vxcomm {

using namespace vxxmodem;
using namespace vxymodem;

void TvxYModem::ReceiveFiles() {
  if (State() != fsListen) return LogMsg(dlSimple, "A transfer is running.");
  StartSession(TStep::kRecvHeader, false);
  LogMsg(dlSimple, streaming_in_use_ ? "Receiving a batch (YMODEM-g)." : "Receiving a batch.");
  AskToStart();
}

void TvxYModem::AskToStart() {
  Answer(streaming_in_use_ ? kStreamStart : kCrcStart);
}

void TvxYModem::StreamDamage(const std::string& what) {
  RaiseFatalError(17, kProtocolViolation, what + " under YMODEM-g, which cannot repeat one.");
}

void TvxYModem::TakeBadBlock() {
  eot_seen_ = false;
  if (streaming_in_use_ && step_ == TStep::kRecvBlock) return StreamDamage("A damaged block");
  if (CountError()) Purge();
}

void TvxYModem::TakeBlock() {
  eot_seen_ = false;
  const std::uint8_t number = reader_.Number();
  // Block 0 is the header before a file's data; later (after block 255) it is data.
  if (number == 0 && (step_ == TStep::kRecvHeader || !got_block_)) return TakeHeader();
  if (step_ == TStep::kRecvHeader)
    return RaiseFatalError(
        17, kProtocolViolation,
        "Block " + std::to_string(number) + " arrived where block 0 was expected.");
  if (got_block_ && number == static_cast<std::uint8_t>(expected_ - 1)) {
    // Our ACK was lost: the sender sent the block again.
    ++repeats_;
    if (streaming_in_use_) return StreamDamage("A block sent again");
    return Answer(kAck);
  }
  if (number != expected_)
    return RaiseFatalError(17, kProtocolViolation,
                           "Block " + std::to_string(number) + " arrived where block " +
                               std::to_string(expected_) + " was expected.");
  // No sender sends a new block past the length it announced: that is another file's data.
  if (length_ >= 0 && written_ >= length_)
    return RaiseFatalError(17, kProtocolViolation,
                           "Block " + std::to_string(number) + " arrived after the " +
                               std::to_string(length_) + " bytes of " + FileName() + ".");
  auto count = static_cast<std::int64_t>(reader_.Size());
  // The announced length ends the file: the padding of its last block is not kept.
  if (length_ >= 0) count = std::min(length_ - written_, count);
  try {
    FileStream()->Write(reader_.Data(), count);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  written_ += count;
  got_block_ = true;
  ++expected_;
  ResetRetries();
  if (streaming_in_use_)
    Arm(Timeout());
  else
    Answer(kAck);
  DoProgress();
}

void TvxYModem::TakeEot() {
  if (step_ == TStep::kRecvHeader) {
    // The sender did not hear our ACK of the last file's EOT; no file has begun yet.
    if (!file_done_) return;
    const std::uint8_t ack = kAck;
    DoDataSend(&ack, 1);
    return AskToStart();
  }
  // A lone EOT may be a damaged byte: it counts once the sender repeats it.
  if (!eot_seen_) {
    eot_seen_ = true;
    return Answer(kNak);
  }
  if (length_ >= 0 && written_ < length_)
    return FileFailure("The sender ended " + FileName() + " at " + std::to_string(written_) +
                       " of its " + std::to_string(length_) + " bytes.");
  try {
    // Whatever the disk defers shows here, before the file is reported complete.
    FileStream()->Sync();
    SetFileOutcome(foComplete);
    StoreIncomingFile(modified_, modified_);
  } catch (const EFileStreamError& e) {
    return FileFailure(e.Message());
  }
  // Acknowledged only once the file is stored under its name.
  const std::uint8_t ack = kAck;
  DoDataSend(&ack, 1);
  LogMsg(dlSimple, "EOT: the file is stored as " + FileResult().name + ".");
  file_done_ = true;
  eot_seen_ = false;
  step_ = TStep::kRecvHeader;
  AskToStart();
}

void TvxYModem::ReceiverTimedOut() {
  reader_.Reset();
  const bool inFile = step_ == TStep::kRecvBlock && got_block_;
  // After a purge the damaged block is behind us (its error is counted): ask for it again.
  if (!EndPurge()) {
    if (streaming_in_use_ && inFile) return StreamDamage("Silence inside the file");
    // Waiting for block 0 (or for block 1 after it) counts as a block's retry: a peer that
    // never starts ends the session after RetryLimit waits.
    if (!CountError()) return;
    LogMsg(dlDetail, "Timeout!");
  }
  if (inFile) return Answer(kNak);
  AskToStart();
}

}  // namespace vxcomm
