// The sending side of TvxKermit: Send-Init, file header, attributes, data, end of file and
// break, driven by the peer's acknowledgements.
#include "vxcomm/vxclasses/baseio.h"
#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/agreement.h"
#include "vxcomm/vxkermit/attributes.h"
#include "vxcomm/vxkermit/datamode.h"
#include "vxcomm/vxkermit/encoding.h"
#include "vxcomm/vxkermit/filename.h"
#include "vxcomm/vxkermit/textform.h"

namespace vxcomm {

using namespace vxkermit;

void TvxKermit::SendFiles(const std::string& mask) {
  resend_ = resend_next_;
  resend_next_ = false;
  TvxCustomFileTransfer::SendFiles(mask);
  // A closed port would swallow the Send-Init and end the session only after ErrorLimit
  // time-outs, as "Too many errors.".
  if (!FileList().Empty()) {
    if (IOComponent() && !IOComponent()->Active())
      RaiseFatalError(17, kPortClosed, kPortClosedText);
    else
      SendInit();
  }
  ReportHandlerFailure();
}

void TvxKermit::SendInit() {
  const TOwnSendInit own = OwnSendInit(OwnTerms(true), Timeout());
  init_params_ = own.params;
  check_index_ = InitCheckIndexOf(init_params_);
  StartSession(fsSend);
  run_.send_phase = TSendPhase::kInit;
  packet_sizer_.Reset();
  init_block_ = own.block;
  SendPacket('S', init_block_.data(), init_block_.size);
  LogMsg(dlDebug, "Answer Init");
}

void TvxKermit::AgreePrefixing(bool peerTakesBareControls) {
  run_.bare_controls = options_.control_prefixing == cpfMinimal ||
                       (options_.control_prefixing == cpfPeerAware && peerTakesBareControls);
  if (options_.control_prefixing == cpfPeerAware)
    LogMsg(dlDetail, run_.bare_controls
                         ? "Minimal prefixing: the peer takes control characters bare."
                         : "Every control character is prefixed: the peer's Send-Init "
                           "does not show it takes them bare.");
}

bool TvxKermit::OpenListedFile() {
  for (;; ++run_.file_index) {
    if (run_.file_index >= FileList().Count()) {
      SendBreak();
      return false;
    }
    const std::string name = FileList().Strings(run_.file_index);
    try {
      OpenTransferFile(name, fmOpenRead);
      return true;
    } catch (const EFileStreamError& e) {
      if (!options_.skip_unreadable_files) {
        RaiseFatalError(17, kFileFailure, e.Message());
        return false;
      }
      LogMsg(dlSimple, e.Message() + "; the file is skipped.");
      PassOverFile(name, e.Message());
    }
  }
}

void TvxKermit::SendFileHeader() {
  file_ = {};
  if (resend_ && run_.file_index == 0 && !ResendingFile())
    LogMsg(dlSimple, "The peer does not offer recovery: files are sent whole.");
  if (!OpenListedFile()) return;
  SetTotalSize(FileList().Sizes(run_.file_index));
  try {
    file_.text = SendsAsText();
  } catch (const EFileStreamError& e) {
    RaiseFatalError(17, kFileFailure, e.Message());
    return;
  }
  // Encoded like data, as peers read it, and never longer than the peer's MAXL allows.
  std::string field;
  const std::size_t longest = run_.send_long > 0 ? MaxLongFileNameLength : MaxFileNameLength;
  for (std::size_t n = std::min(longest, MaxDataField()); n > 0; --n) {
    field = EncodeText(SentFileName(FileName(), n), QctlOf(init_params_), run_.qbin, run_.rept);
    if (field.size() <= MaxDataField()) break;
  }
  run_.send_phase = TSendPhase::kFileHeader;
  SendPacket('F', field.data(), field.size());
  LogMsg(dlDebug, "Answer File");
}

bool TvxKermit::SendsAsText() {
  if (options_.file_type == ftText) return true;
  // A like system stores what it gets as it comes: binary loses nothing there.
  if (options_.file_type != ftAuto || record_.peer_like) return false;
  TvxFileStream* file = FileStream();
  if (!file) return false;
  std::array<std::uint8_t, kTextSniffLength> start;
  const std::int64_t n = file->Read(start.data(), static_cast<std::int64_t>(start.size()));
  file->Seek(0);
  return n >= 0 && LooksLikeText(start.data(), static_cast<std::size_t>(n));
}

void TvxKermit::SendAttributes() {
  LogMsg(dlDebug, "Answer File Atributes");
  // What this side is and how the file crosses come first, as Kermit programs send them.
  std::string attributes = options_.describe_system ? SystemIdAttribute() : std::string();
  if (options_.describe_system || file_.text) attributes += FileTypeAttribute(file_.text);
  const TvxFileStream* file = FileStream();
  const std::int64_t date = options_.file_dates && file ? file->ModifiedTime() : -1;
  attributes += BuildAttributes(TotalSize(), options_.exact_length, date, ResendingFile());
  run_.send_phase = TSendPhase::kAttributes;
  SendPacket('A', attributes.data(), attributes.size());
}

std::ptrdiff_t TvxKermit::ReadDataField(bool sized) {
  TvxFileStream* file = FileStream();
  if (!file) return 0;
  std::size_t field = 0;
  // Long packets follow the line's record when Sized; the classic length is what the peer
  // allows.
  const std::size_t max = run_.send_long > 0 && sized
                              ? packet_sizer_.Next(MaxClassicField(), MaxDataField())
                              : MaxDataField();
  const TPrefixes prefixes{QctlOf(init_params_), run_.qbin, run_.rept, run_.bare_controls};
  const auto chunk = static_cast<std::int64_t>(std::min(max, raw_buf_.size()));
  try {
    run_.data_pos = file->Position();
    std::int64_t consumed = 0;
    // With repeat counts a packet may hold far more bytes than characters: it reads on
    // until the field is full.
    while (field < max) {
      const std::int64_t n = file->Read(raw_buf_.data(), chunk);
      if (n <= 0) break;
      // Text crosses in canonical form: a CR before every LF.
      const std::uint8_t* in = raw_buf_.data();
      std::size_t inLen = static_cast<std::size_t>(n);
      if (file_.text) {
        inLen = ExpandLineEnds(raw_buf_.data(), inLen, text_buf_.data());
        in = text_buf_.data();
      }
      std::size_t written = 0;
      std::size_t used =
          EncodeData(in, inLen, prefixes, field_buf_.data() + field, max - field, written);
      // A CR put before an LF that did not fit waits for it: the next packet starts at the LF
      // and puts it there again.
      while (file_.text && SplitsLineEnd(in, used, inLen))
        used = EncodeData(in, used - 1, prefixes, field_buf_.data() + field, max - field, written);
      field += written;
      consumed += static_cast<std::int64_t>(file_.text ? SourceLength(in, used) : used);
      // What did not fit goes into the next packet.
      if (used < inLen) {
        file->Seek(run_.data_pos + consumed);
        break;
      }
    }
    // The file's end: the bytes read must be those announced, or the receiver would take a
    // file cut short (or grown) under its sender for the whole one.
    if (field == 0 && options_.check_lengths && file->Position() != TotalSize()) {
      RaiseFatalError(17, kFileFailure,
                      FileName().substr(FileName().rfind('/') + 1) +
                          " changed while it was sent: " + std::to_string(file->Position()) +
                          " bytes read, " + std::to_string(TotalSize()) + " announced.");
      return -1;
    }
  } catch (const EFileStreamError& e) {
    // Ending the file here would hand the peer a short file as complete.
    RaiseFatalError(17, kFileFailure, e.Message());
    return -1;
  }
  return static_cast<std::ptrdiff_t>(field);
}

void TvxKermit::SendFileData() {
  const std::ptrdiff_t field = ReadDataField(true);
  if (field < 0) return;
  if (field == 0) {
    SendEOF(false);
    return;
  }
  last_data_field_ = static_cast<std::size_t>(field);
  SendPacket('D', field_buf_.data(), last_data_field_);
  DoProgress();
}

void TvxKermit::StreamData() {
  // The line sets the pace: with a burst's worth still waiting to leave, another would only
  // lengthen the queue (and the wait of an E behind it). At the file's end this reads
  // nothing more and only looks whether the Z may go.
  if (QueuedOutput() >= StreamQueueBytes) return stream_turn_.start(StreamPollMs);
  stream_out_.clear();
  bool end = false;
  while (stream_out_.size() < StreamBurstBytes) {
    // A streaming link has no record (no D packet is acknowledged) and needs none (a fault
    // ends the session): its packets are as long as agreed.
    const std::ptrdiff_t field = ReadDataField(false);
    // A fatal error has ended the session with an E: what was gathered stays unsent.
    if (field < 0) return;
    if (field == 0) {
      end = true;
      break;
    }
    last_data_field_ = static_cast<std::size_t>(field);
    FrameOutgoing('D', field_buf_.data(), last_data_field_);
    stream_out_.insert(stream_out_.end(), send_buf_.begin(),
                       send_buf_.begin() + static_cast<std::ptrdiff_t>(run_.last_sent_size));
    ++run_.send_seq;
  }
  // One block for the burst; handlers run once it is sent, so a packet they send (an E, a
  // Z) follows the data it ends.
  if (!stream_out_.empty()) {
    DoDataSend(stream_out_.data(), static_cast<Cardinal>(stream_out_.size()));
    StartReplyTimer();
    DoProgress();
    // A handler ended the file or the session.
    if (!SendingData()) return;
  }
  // The Z goes once the data before it has left: a short write queued behind a long one
  // outlives its own write deadline on a slow line and is dropped.
  const Cardinal queued = QueuedOutput();
  if (end && queued == 0) return SendEOF(false);
  stream_turn_.start(end || queued >= StreamQueueBytes ? StreamPollMs : 0);
}

void TvxKermit::StreamTurn() {
  // Any packet sent since the turn was set stopped it: the file is still streaming.
  if (State() != fsSend || !data_mode_->Streams()) return;
  try {
    StreamData();
    ReportHandlerFailure();
  } catch (...) {
    // A fatal error met here has been reported and has ended the session; an exception must
    // not leave the event loop.
  }
}

void TvxKermit::SendEOF(bool discard) {
  run_.window_eof = false;
  run_.window_discard = false;
  // Complete only once the receiver acknowledges the end (a skip said so before).
  SetFileOutcome(foComplete);
  HoldFileResult();
  CloseTransferFile();
  ++run_.file_index;
  run_.send_phase = TSendPhase::kEndOfFile;
  SendPacket('Z', "D", discard ? 1 : 0);
  LogMsg(dlDebug, std::string("Answer EOF with deletion = ") + (discard ? "1" : "0"));
}

void TvxKermit::SendBreak() {
  SendPacket('B', nullptr, 0);
  LogMsg(dlDebug, "Answer BREAK");
  const std::size_t breakSize = run_.last_sent_size;
  const int breakSeq = run_.send_seq - 1;
  ResetSession(fsListen);
  // The session ends here at once; a receiver that missed the B asks for it again (a NAK of
  // its number) and gets it, until a new session starts. Without the repeat it would fail
  // its session though every file arrived.
  run_.last_sent_type = 'B';
  run_.last_sent_size = breakSize;
  run_.break_seq = static_cast<std::uint8_t>(breakSeq & 63);
  EndSessionResult(true, {});
}

bool TvxKermit::SendingData() const {
  return State() == fsSend && run_.send_phase == TSendPhase::kData;
}

void TvxKermit::ReceiveAck() {
  if (Logs(dlDebug)) LogMsg(dlDebug, "ACK [Y] Packet!");
  if (SendingData()) return data_mode_->OnAck();
  AnswerAck();
}

void TvxKermit::AnswerAck() {
  // An acknowledgement of an earlier packet (a late answer to a repeat) moves nothing on.
  if (RecvSeq() != OutstandingSeq()) return;
  AdvanceOnAck(RecvData(), RecvDataLen());
}

void TvxKermit::ReceiveNak() {
  LogMsg(dlDebug, "NACK [N] Packet! ");
  // A streaming link repeats nothing: a NAK ends it whatever was refused.
  if (SendingData() || data_mode_->Streams()) return data_mode_->OnNak();
  AnswerNak();
}

void TvxKermit::AnswerNak() {
  const std::uint8_t seq = RecvSeq();
  // The receiver waits for the packet after the outstanding one: it has that one. A
  // Send-Init needs its answer's parameters, so only a Y moves it on.
  if (seq == ((OutstandingSeq() + 1) & 63) && run_.send_phase != TSendPhase::kInit) {
    AdvanceOnAck(nullptr, 0);
  } else if (seq == OutstandingSeq()) {
    if (CountRetry()) ResendLastPacket();
  }
}

void TvxKermit::AdvanceOnAck(const std::uint8_t* data, std::size_t len) {
  const int repeats = RetryCount();
  ResetRetries();
  // What the acknowledgement answers decides what goes next.
  switch (run_.send_phase) {
    case TSendPhase::kInit: {
      // init_params_ still holds what the S proposed.
      const TAgreement agreed = AgreeOnAnswer(OwnTerms(true), init_params_, data, len);
      AgreePrefixing(agreed.peer_takes_bare_controls);
      ApplyAgreement(agreed);
      SendFileHeader();
      break;
    }
    case TSendPhase::kFileHeader:
      // Attributes go only to a peer that said it takes them.
      if (record_.attributes)
        SendAttributes();
      else
        StartFileData();
      break;
    case TSendPhase::kAttributes:
      // The receiver refuses the file ("N", and perhaps the attributes that decided it): it
      // is skipped, and its Z asks the receiver to discard what it may hold.
      if (len > 0 && data[0] == 'N') {
        SetFileOutcome(foDiscarded, "refused by the receiver");
        LogMsg(dlSimple, "The receiver refuses " + FileName() + ".");
        SkipFile(false, true);
        break;
      }
      if (ResumeSending(data, len)) StartFileData();
      break;
    case TSendPhase::kData:
      // One packet at a time (a window and a stream take their acknowledgements in the data
      // mode).
      packet_sizer_.Delivered(last_data_field_, repeats);
      if (len > 0 && (data[0] == 'X' || data[0] == 'Z'))
        SkipByReceiver(data[0] == 'Z');
      else
        SendFileData();
      break;
    case TSendPhase::kEndOfFile:
      SettleFileResult();
      if (run_.file_index < FileList().Count())
        SendFileHeader();
      else
        SendBreak();
      break;
  }
}

void TvxKermit::StartFileData() {
  run_.send_phase = TSendPhase::kData;
  data_mode_->Fill();
}

void TvxKermit::SkipByReceiver(bool all) {
  SetFileOutcome(foSkippedByPeer, "skipped by the receiver");
  SkipFile(all, true);
}

std::int64_t TvxKermit::BytesCrossed() const {
  // A resent or recovered file's start was there before the session.
  return GetFilePosition() - file_.recovered;
}

}  // namespace vxcomm
