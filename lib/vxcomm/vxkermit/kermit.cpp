// Construction, framing, verification and dispatch of TvxKermit; the session's start,
// reset, time-out, abort and errors.
#include <algorithm>
#include <cstring>

#include "vxcomm/vxkermit.h"
#include "vxcomm/vxkermit/datamode.h"
#include "vxcomm/vxkermit/encoding.h"

namespace vxcomm {

using namespace vxkermit;

namespace {

// The packets a client sends a server: I (its parameters), G (a generic command: finish,
// bye, remote dir ...), R (get), C (a host command), K (a Kermit command).
bool IsServerCommand(std::uint8_t type) {
  return type != 0 && std::strchr("IGRCK", type) != nullptr;
}

// How often a streaming sender whose output still waits looks again before it starts
// timing the peer's silence.
constexpr int kOutputPollMs = 20;

}  // namespace

TvxKermit::TvxKermit(QObject* owner)
    : TvxCustomFileTransfer(owner),
      recv_buf_(RecvBufSize),
      send_buf_(SendBufSize),
      field_buf_(kPacketImageSize),
      raw_buf_(kPacketImageSize),
      decode_buf_(kPacketImageSize),
      text_buf_(2 * kPacketImageSize),
      data_mode_(MakeDataMode(*this, 1, false)) {
  SetLogPrefix("vxKermit: ");
  send_buf_[0] = kMark;
  TvxDataPacket* packet = Packets().Add();
  packet->SetCaption("Common Kermit Packet");
  packet->SetActive(true);
  packet->SetPacketBegin(std::string(1, static_cast<char>(kMark)));
  packet->OnPacketLength = [this](TvxDataPacket* p, std::uint8_t ch, bool& isHandled) {
    DoPacketLength(p, ch, isHandled);
  };
  // SOH always begins a packet, and a peer's end of line inside one means it was cut short:
  // either way the detector never swallows the next packet into a damaged one.
  packet->SetRestartOnBegin(true);
  packet->SetBodyBreaks(std::string(1, static_cast<char>(kEol)));
  // Live at once, so a component attached to an open medium listens without a reopen.
  packet->Reset();
  SetTimeout(5000);
  stream_turn_.setSingleShot(true);
  stream_turn_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&stream_turn_, &QTimer::timeout, this, [this] { StreamTurn(); });
}

TvxKermit::~TvxKermit() {
  Destroying();
}

std::uint16_t TvxKermit::CalcBlockCheck(const std::uint8_t* packet) const {
  std::array<std::uint8_t, kPacketImageSize> copy;
  std::memcpy(copy.data(), packet, copy.size());
  return vxkermit::CalcBlockCheck(copy.data(), check_index_);
}

bool TvxKermit::VerifyBlockCheck(const std::uint8_t* packet) {
  return vxkermit::VerifyBlockCheck(packet, check_index_);
}

void TvxKermit::SetWindowSize(int value) {
  TvxKermitOptions o = options_;
  o.window_size = value;
  SetOptions(o);
}

void TvxKermit::SetMaxLongPacketLength(int value) {
  TvxKermitOptions o = options_;
  o.max_long_packet_length = value;
  SetOptions(o);
}

void TvxKermit::SizeBuffers() {
  // For the longest packet this side offers: the agreed one is never longer, so nothing
  // grows while the session runs.
  const std::size_t longest =
      options_.long_packets ? static_cast<std::size_t>(options_.max_long_packet_length) : 0;
  const std::size_t image =
      std::max(kPacketImageSize, kLongDataPos + longest + LongPacketTolerance + 1);
  recv_buf_.resize(image);
  send_buf_.resize(image);
  field_buf_.resize(image);
  raw_buf_.resize(image);
  text_buf_.resize(2 * image);
  decode_buf_.resize(MaxDecodedLength(image, options_.repeat_counts));
}

std::size_t TvxKermit::MaxDataField() const {
  const std::size_t classic = MaxClassicField();
  if (run_.send_long == 0) return classic;
  // The peer's MAXLX is read like MAXL, from SEQ through the check: SEQ, TYPE, LENX1,
  // LENX2 and HCHECK come before the data.
  const std::size_t overhead = 5 + static_cast<std::size_t>(CheckLength(check_index_));
  const std::size_t field = run_.send_long > overhead ? run_.send_long - overhead : 0;
  return std::min(std::max(classic, field), field_buf_.size());
}

void TvxKermit::DoPacketLength(TvxDataPacket* packet, std::uint8_t ch, bool& isHandled) {
  const std::size_t size = static_cast<std::size_t>(packet->DataSize());
  if (run_.recv_long > 0 && size > kLenPos && packet->Data()[kLenPos] == ToChar(0)) {
    // A long packet: its length is trusted only once HCHECK has vouched for the header.
    if (size < kLongDataPos) {
      isHandled = false;
      return;
    }
    const int ext = LongPacketLength(packet->Data());
    const bool usable = ext >= CheckLength(check_index_) &&
                        static_cast<std::size_t>(ext) <= run_.recv_long + LongPacketTolerance;
    packet->SetPacketLength(static_cast<int>(size) + (usable ? ext + 1 : 0));
    isHandled = true;
    return;
  }
  // The packet is taken with the end-of-line byte that follows it: a LEN damaged on the
  // line then shows as a missing terminator instead of passing a short check by chance.
  const int len = UnChar(ch);
  packet->SetPacketLength(packet->DataSize() + (len >= MinPacketLen(0) ? len + 1 : 0));
  isHandled = true;
}

void TvxKermit::SendPacket(std::uint8_t type, const void* data, std::size_t len) {
  FrameOutgoing(type, data, len);
  DoDataSend(send_buf_.data(), static_cast<Cardinal>(run_.last_sent_size));
  ++run_.send_seq;
  round_trip_.Sent();
  StartReplyTimer();
}

void TvxKermit::FrameOutgoing(std::uint8_t type, const void* data, std::size_t len) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const auto seq = static_cast<unsigned>(run_.send_seq);
  if (run_.send_long > 0 && len > MaxClassicField())
    run_.last_sent_size = FrameLongPacket(send_buf_.data(), type, seq, bytes,
                                          std::min(len, MaxDataField()), check_index_);
  else
    run_.last_sent_size = FramePacket(send_buf_.data(), type, seq, bytes, len, check_index_);
  record_.largest_sent = std::max(record_.largest_sent, run_.last_sent_size - 1);
  run_.last_sent_type = type;
  stream_turn_.stop();
  damaged_since_sent_ = false;
}

void TvxKermit::ResendLastPacket() {
  if (SendingData()) return data_mode_->OnTimeout();
  RepeatLastPacket();
}

void TvxKermit::RepeatLastPacket() {
  if (run_.last_sent_size == 0) return;
  damaged_since_sent_ = false;
  DoDataSend(send_buf_.data(), static_cast<Cardinal>(run_.last_sent_size));
  ++record_.repeats_sent;
  // A reply to a repeat cannot tell which copy it answers: it is not timed.
  round_trip_.Untimed();
  StartReplyTimer();
}

int TvxKermit::SilenceTimeout() const {
  // A time-out ends a streaming session: it waits the whole time-out, never one the round
  // trip gives.
  if (!options_.adaptive_timeout || State() == fsListen || data_mode_->Streams()) return Timeout();
  // Each failure of the same packet doubles the wait, up to twice the time-out this side
  // announced: a peer that lost its way in a damaged packet recovers only by that
  // time-out, and each repeat sent before it runs out would start its wait anew.
  // The data mode may lower the fixed floor; the wait is never shorter than the round trips
  // measured show the peer may need.
  const bool inData = SendingData();
  const int floor = inData ? data_mode_->ReplyFloorMs() : MinReplyTimeoutMs;
  const std::int64_t base = round_trip_.ReplyTimeout(floor, Timeout());
  const int failures = inData ? data_mode_->Failures() : RetryCount();
  const std::int64_t backedOff = base << std::min(failures, 16);
  return static_cast<int>(std::min<std::int64_t>(backedOff, 2 * std::int64_t{Timeout()}));
}

void TvxKermit::StartReplyTimer() {
  // A streaming sender's packets may wait long in the output queue on a slow line: the peer
  // is silent only once nothing of ours waits to leave, so until then the timer only looks.
  if (StreamedOutputWaits()) {
    run_.output_waited = true;
    StartTimer(static_cast<Cardinal>(std::min(kOutputPollMs, std::max(1, Timeout()))));
    return;
  }
  run_.output_waited = false;
  StartTimer(static_cast<Cardinal>(std::max(0, SilenceTimeout())));
}

bool TvxKermit::StreamedOutputWaits() const {
  return State() == fsSend && data_mode_->Streams() && QueuedOutput() > 0;
}

Cardinal TvxKermit::QueuedOutput() const {
  TvxBaseIO* io = IOComponent();
  return io ? io->OutQueueCount() : 0;
}

bool TvxKermit::AcceptPacket(std::size_t size, std::uint8_t terminator) {
  // Any control character but MARK ends a packet: peers differ in their end of line.
  const bool terminated = terminator < 32 && terminator != kMark;
  // SEQ is tochar of 0..63: any other byte is damage, whatever the check says.
  const int seq = size > kSeqPos ? UnChar(recv_buf_[kSeqPos]) : -1;
  if (size < kDataPos || !terminated || seq < 0 || seq >= 64) return false;
  const std::size_t k = static_cast<std::size_t>(CheckLength(check_index_));
  if (run_.recv_long > 0 && recv_buf_[kLenPos] == ToChar(0)) {
    if (!VerifyLongPacket(recv_buf_.data(), size, check_index_)) return false;
    recv_data_pos_ = kLongDataPos;
    recv_data_len_ = size - kLongDataPos - k;
    return true;
  }
  const int len = UnChar(recv_buf_[kLenPos]);
  if (len < MinPacketLen(check_index_) || static_cast<std::size_t>(len) + 2 != size ||
      !VerifyBlockCheck(recv_buf_.data()))
    return false;
  recv_data_pos_ = kDataPos;
  recv_data_len_ = static_cast<std::size_t>(len) + 2 - kDataPos - k;
  return true;
}

void TvxKermit::DoPacket(int index) {
  TvxCustomFileTransfer::DoPacket(index);
  if (index != 0) return;
  TakePacket();
  // The packet was acted on whole (written, acknowledged, counted) whatever a handler did.
  ReportHandlerFailure();
}

void TvxKermit::TakePacket() {
  // Even a damaged packet shows the peer is there.
  run_.silent_timeouts = 0;
  const TvxDataPacket* packet = Packets().Items(0);
  // MARK through the last check byte; the end-of-line byte is looked at, not kept.
  std::size_t size =
      std::min<std::size_t>(static_cast<std::size_t>(packet->DataSize()), recv_buf_.size());
  std::uint8_t terminator = kMark;
  if (size > kSeqPos) terminator = packet->Data()[--size];
  std::memcpy(recv_buf_.data(), packet->Data(), size);
  // A classic image is read up to where its LEN points: what lies past the packet is zero.
  if (size < kPacketImageSize)
    std::fill(recv_buf_.begin() + static_cast<std::ptrdiff_t>(size),
              recv_buf_.begin() + static_cast<std::ptrdiff_t>(kPacketImageSize), 0);

  // A Send-Init is always checked with type 1, or with type 3 when it asks for force-3;
  // outside a new session the negotiated check comes back afterwards, so a damaged packet
  // that reads as S cannot change it. A client's first packet is checked like a Send-Init.
  const std::uint8_t type = size >= kDataPos ? recv_buf_[kTypePos] : 0;
  const bool isInit = type == 'S' || (State() == fsListen && options_.refuse_server_commands &&
                                      IsServerCommand(type));
  const int negotiated = check_index_;
  // Its CHKT says which check it carries; a damaged one that reads as force-3 by chance is
  // still taken with type 1.
  const bool forced3 = isInit && (type == 'S' || type == 'I') && size > kDataPos + ipChkt &&
                       recv_buf_[kDataPos + ipChkt] == kChktForced3;
  if (isInit) check_index_ = forced3 ? 2 : 0;
  bool accepted = AcceptPacket(size, terminator);
  if (!accepted && forced3) {
    check_index_ = 0;
    accepted = AcceptPacket(size, terminator);
  }
  if (!accepted) {
    recv_buf_[kSeqPos] = size > kSeqPos ? static_cast<std::uint8_t>(UnChar(recv_buf_[kSeqPos]) & 63)
                                        : static_cast<std::uint8_t>((last_recv_seq_ + 1) & 63);
    if (isInit && (State() != fsListen || type != 'S')) check_index_ = negotiated;
    BadCheck();
    return;
  }
  recv_buf_[kLenPos] = static_cast<std::uint8_t>(UnChar(recv_buf_[kLenPos]));
  recv_buf_[kSeqPos] = static_cast<std::uint8_t>(UnChar(recv_buf_[kSeqPos]) & 63);
  record_.largest_received = std::max(record_.largest_received, size);
  if (AnswersLastSent()) round_trip_.Replied();
  const TvxTransferState before = State();
  Dispatch();
  if (isInit && State() == before && (before != fsListen || type != 'S')) check_index_ = negotiated;
}

bool TvxKermit::AnswersLastSent() const {
  // Only the answer that moves the session on times the line. A NAK, or a repeat of what
  // this side already has, may be the peer's own time-out speaking: taken as a round trip,
  // it would set every later wait to the peer's time-out. The answer to a Send-Init tells
  // how long the peer took to start and take the line (gkermit answers one that came too
  // early after its own time-out), not how long the line takes.
  const int sent = (run_.send_seq - 1) & 63;
  switch (run_.last_sent_type) {
    case 'N':
    case 'S':
    case 'I':
      return false;
    case 'Y':
      return RecvSeq() == ((sent + 1) & 63);
    default:
      return RecvType() == 'Y' && RecvSeq() == sent;
  }
}

void TvxKermit::Dispatch() {
  const std::uint8_t type = RecvType();
  if (type == 'E') {
    if (State() != fsListen) ReceiveError();
    return;
  }
  switch (State()) {
    case fsListen:
      if (type == 'S') {
        ReceiveInit();
        SendAck();
        last_recv_seq_ = RecvSeq();
      } else if (type == 'B') {
        // The peer missed the answer to its break: the session is over here already, and the
        // break is answered and logged as in a session.
        SendAck();
        EndSession();
      } else if (type == 'N' && run_.last_sent_type == 'B' && RecvSeq() == run_.break_seq) {
        // The receiver missed the break that ended the session here.
        RepeatLastPacket();
        StartTimer(0);
      } else if (options_.refuse_server_commands && IsServerCommand(type)) {
        RefuseServerCommand();
      } else if (run_.answer_with_error) {
        ResendLastPacket();
        StartTimer(0);
      }
      break;
    case fsSend:
      if (type == 'Y')
        ReceiveAck();
      else if (type == 'N')
        ReceiveNak();
      break;
    case fsReceive:
      data_mode_->OnReceived(type);
      break;
  }
}

void TvxKermit::ReceiveInTurn(std::uint8_t type) {
  const std::uint8_t seq = RecvSeq();
  if (seq == last_recv_seq_) {
    // The peer missed the answer: it gets it again, and nothing is done twice.
    ++record_.repeats_received;
    if (!CountRetry()) return;
    SendAck();
    return;
  }
  // Only what a sender sends in a transfer moves the receiver on.
  const bool actionable = type == 'F' || type == 'A' || type == 'D' || type == 'Z' || type == 'B';
  if (seq != ExpectedSeq() || !actionable) {
    // Neither the packet expected nor its predecessor: a stray or a replay.
    if (!CountError()) return;
    LogMsg(dlDetail, "Out of sequence: " + std::to_string(seq) + " instead of " +
                         std::to_string(ExpectedSeq()));
    SendNak();
    return;
  }
  ActOnReceived(type, seq, true);
}

namespace {

// Why the sender breaks the protocol with a packet of Type in Phase; null when the phase takes
// it.
const char* ReceiveViolation(TReceivePhase phase, std::uint8_t type) {
  if (phase == TReceivePhase::kFile) {
    if (type == 'A') return "Attributes for no open file.";
    if (type == 'D') return "Data for no open file.";
    if (type == 'Z') return "End of file for no open file.";
    return nullptr;
  }
  if (type == 'F') return "File header before the end of the open file.";
  if (type == 'B') return "Break before the end of the open file.";
  if (type == 'A' && phase == TReceivePhase::kData) return "Attributes after the file's data.";
  return nullptr;
}

}  // namespace

void TvxKermit::ActOnReceived(std::uint8_t type, std::uint8_t seq, bool ack) {
  if (const char* violation = ReceiveViolation(run_.receive_phase, type))
    return RaiseFatalError(17, kProtocolViolation, violation);
  bool answer = ack;
  switch (type) {
    case 'F':
      if (!ReceiveFileHeader()) return;
      run_.receive_phase = TReceivePhase::kAttributes;
      break;
    case 'A':
      ReceiveAttributes();
      break;
    case 'D':
      // A refused packet must not count as received, or its repeat would be dropped.
      if (!ReceiveFileData()) return;
      run_.receive_phase = TReceivePhase::kData;
      answer = ack && data_mode_->AcknowledgesData();
      break;
    case 'Z':
      ReceiveEOF();
      run_.receive_phase = TReceivePhase::kFile;
      break;
    case 'B':
      last_recv_seq_ = seq;
      if (ack) SendAck();
      EndSession();
      return;
  }
  // A local failure has ended the session and told the peer instead.
  if (State() != fsReceive) return;
  last_recv_seq_ = seq;
  ResetRetries();
  if (answer)
    SendAck();
  else if (ack)
    StartReplyTimer();  // data left unanswered: the silence time-out starts again
}

void TvxKermit::BadCheck() {
  // Outside a transfer there is nothing to repeat and no session to fail.
  if (State() == fsListen) return;
  if (data_mode_->EndsOnFault("a damaged packet arrived")) return;
  // Before the Send-Init is answered, a peer's leftovers of an earlier session (its repeated
  // answers, checked as that session agreed) read as damaged: one damaged packet per
  // Send-Init sent (or repeated on a time-out) costs a retry and a repeat, the others only
  // count as errors, so a burst of them cannot use up the retry limit before a live peer
  // answers.
  const bool leftover =
      State() == fsSend && run_.send_phase == TSendPhase::kInit && damaged_since_sent_;
  // A long packet is damaged far more often than a short one on the same line, and a sender
  // that does not shorten its packets repeats one many times before it crosses: while long
  // packets come in, every fourth damaged packet counts against the retry limit.
  const bool asRetry =
      !leftover && (run_.recv_long == 0 || State() != fsReceive || ErrorCount() % 4 == 3);
  if (!CountError(asRetry)) return;
  LogMsg(dlDetail, "Bad check sum! " + std::to_string(check_index_));
  if (leftover) return;
  if (State() == fsReceive)
    SendNak();
  else if (options_.adaptive_timeout && SendingData())
    data_mode_->OnDamaged();
  else if (options_.adaptive_timeout)
    RepeatLastPacket();
  // After the repeat: what else is damaged before the next packet goes out is leftovers.
  damaged_since_sent_ = true;
}

void TvxKermit::ResetSession(TvxTransferState state) {
  run_ = {};
  stream_turn_.stop();
  send_window_.Clear();
  recv_window_.Clear();
  round_trip_.Reset();
  SetErrorCount(0);
  ResetRetries();
  SetConsumeData(false);
  SetState(state);
  StartTimer(0);
}

void TvxKermit::StartSession(TvxTransferState state) {
  ForgetHandlerFailure();
  record_ = {};
  data_mode_ = MakeDataMode(*this, 1, false);
  file_ = {};
  BeginSessionResult(state == fsSend, state == fsSend ? FileList().Count() : 0);
  ResetSession(state);
  SizeBuffers();
  SetConsumeData(true);
}

int TvxKermit::SessionRetryLimit() const {
  return RetryLimit() > 0 ? RetryLimit() + run_.retry_allowance : RetryLimit();
}

void TvxKermit::ResetPackets() {
  // The line opened or closed under a running transfer: what was received stays on disk,
  // and the session ends as failed, never as done.
  if (State() != fsListen) AbortTransfer("The line closed during the transfer.");
  ResetSession(fsListen);
  TvxCustomFileTransfer::ResetPackets();
}

void TvxKermit::DoTimeout() {
  if (State() == fsListen) {
    StartTimer(0);
    return;
  }
  // The timer looked at the output queue: the silence starts once it is empty (DoTimer arms
  // the timer again).
  if (run_.output_waited || StreamedOutputWaits()) return;
  TvxCustomFileTransfer::DoTimeout();
  ++record_.timeouts;
  if (data_mode_->EndsOnFault("the peer fell silent")) return;
  // Silence is judged by the limit the user set: a window's allowance covers the repeats a
  // window causes, not a peer that is gone (each wait may last twice the time-out). Only
  // time-outs in a row count: repeats a receiver asked for show it is there.
  ++run_.silent_timeouts;
  if (RetryLimit() > 0 && run_.silent_timeouts > RetryLimit()) {
    // A peer that said nothing through all of them has left the session: whatever reads the
    // line now (a bootloader back at its prompt) would take an E packet as typed text. A
    // packet it sends later still gets the E.
    peer_silent_ = true;
    return RaiseFatalError(17, 8, "Too many retries.");
  }
  // A wait cut shorter than Timeout by the round trip (AdaptiveTimeout) that runs out shows a
  // peer slower than the line's record, not an error of the line: it costs a retry of the
  // packet. Waits back off up to Timeout and beyond, and those that run out count as errors.
  const bool early = SilenceTimeout() < Timeout();
  if (early ? !CountRetry() : !CountError()) return;
  LogMsg(dlDetail, "Timeout!");
  if (State() == fsReceive)
    SendNak();
  else if (State() == fsSend)
    ResendLastPacket();
}

void TvxKermit::DoTimer(TObject* sender) {
  TvxCustomFileTransfer::DoTimer(sender);
  if (State() != fsListen) StartReplyTimer();
  ReportHandlerFailure();
}

void TvxKermit::AbortTransfer(const std::string& reason) {
  const bool running = State() != fsListen;
  // A streaming sender's queued data is of no use now, and the E would wait behind it (on a
  // slow line past its own write deadline); the receiver takes the E after a cut packet.
  if (StreamedOutputWaits()) IOComponent()->PurgeOut();
  if (running) SendError(reason);
  peer_silent_ = false;
  TvxCustomFileTransfer::AbortTransfer(reason);
  run_.answer_with_error = running;
  CloseTransferFile();
  StartTimer(0);
  // Last: its handler may start the next session.
  EndSessionResult(false, reason);
}

void TvxKermit::StreamingFailure(const std::string& what) {
  RaiseFatalError(17, kStreamingFailure, "Streaming: " + what + "; the transfer ends.");
}

void TvxKermit::SendError(const std::string& msg) {
  // One packet holds the message; the peer's MAXL bounds it.
  const std::string cut = msg.substr(0, std::min(msg.size(), MaxDataField()));
  // A peer gone silent gets it only if it sends again (run_.answer_with_error).
  if (peer_silent_) return FrameOutgoing('E', cut.data(), cut.size());
  SendPacket('E', cut.data(), cut.size());
  LogMsg(dlDebug, "Answer ERROR:" + cut);
}

void TvxKermit::ReceiveError() {
  const std::string msg(reinterpret_cast<const char*>(RecvData()), RecvDataLen());
  ResetSession(fsListen);
  AbortTransfer("Remote end reports fatal error: " + msg);
}

void TvxKermit::RefuseServerCommand() {
  // Answered with the check the command came with: the client reads nothing else yet.
  run_.send_seq = RecvSeq();
  const std::string msg = kNotAServer;
  SendPacket('E', msg.data(), msg.size());
  // Nothing is awaited: the client ends on the E.
  StartTimer(0);
  LogMsg(dlSimple,
         std::string("Refused a server command (") + static_cast<char>(RecvType()) + "): " + msg);
}

void TvxKermit::EndSession() {
  ResetSession(fsListen);
  LogMsg(dlSimple, "BREAK [B] Close Session Packet! ");
  EndSessionResult(true, {});
}

void TvxKermit::SendAck() {
  if (RecvType() == 'S') {
    // The answer to a Send-Init goes out with type 1 (type 3 under force-3), whatever was
    // negotiated.
    const int saved = check_index_;
    check_index_ = InitCheckIndexOf(init_params_);
    run_.send_seq = RecvSeq();
    SendPacket('Y', init_block_.data(), init_block_.size);
    check_index_ = saved;
    return;
  }
  const int received = RecvSeq();
  run_.send_seq = received;
  const bool withSkip = RecvType() == 'D' && skip_code_.size() == 1;
  file_.skip_sent = file_.skip_sent || withSkip;
  if (RecvType() == 'A' && !file_.attributes_reply.empty())
    SendPacket('Y', file_.attributes_reply.data(), file_.attributes_reply.size());
  else
    SendPacket('Y', skip_code_.data(), withSkip ? 1 : 0);
  skip_code_.clear();
  if (Logs(dlDebug))
    LogMsg(dlDebug, "Answer ACK " + std::to_string(received) + " = " + std::to_string(received));
}

void TvxKermit::SendNak() {
  // Whatever arrived, the NAK names the packet this side waits for.
  const int expected = ExpectedSeq();
  run_.send_seq = expected;
  SendPacket('N', nullptr, 0);
  LogMsg(dlDebug, "Answer NACK " + std::to_string(expected) + " = " + std::to_string(RecvSeq()));
}

void TvxKermit::SkipFile(bool skipAll, bool deleteFile) {
  TvxCustomFileTransfer::SkipFile(skipAll, deleteFile);
  if (State() == fsSend) {
    SetFileOutcome(foSkippedByUs, "skipped by this side");
    if (skipAll) FileList().Clear();
    // Only a file being sent can be ended; between files the next header follows as usual.
    // With packets in flight the Z waits for them, and no more data goes.
    if (FileStream() && SendingData())
      data_mode_->EndFile(deleteFile);
    else if (FileStream())
      SendEOF(deleteFile);
  } else if (State() == fsReceive) {
    // One character assigned as a character: GCC 12 at -O3 misreads the copy of a literal
    // into the string as overlapping (-Wrestrict).
    skip_code_.assign(1, skipAll ? 'Z' : 'X');
  }
}

}  // namespace vxcomm
