// Sliding windows in TvxKermit: the agreement, the sender that keeps several D packets in
// flight and repeats only what the receiver misses, and the receiver that keeps packets
// arriving after a missing one and acts on them in order.
#include <algorithm>
#include <chrono>

#include "vxcomm/vxkermit.h"

namespace vxcomm {

using namespace vxkermit;

std::size_t TvxKermit::WindowReservedBytes() const {
  return send_window_.ReservedBytes() + recv_window_.ReservedBytes();
}

void TvxKermit::AgreeWindow(int agreed) {
  record_.window = std::clamp(agreed, 1, kMaxWindow);
  run_.retry_allowance = 0;
  if (record_.window <= 1) return;
  // Every packet of a window may need its own repeat before the window moves on.
  run_.retry_allowance = record_.window;
  // One slot per packet in flight, each as large as the largest packet of the session.
  if (State() == fsSend)
    send_window_.Allocate(record_.window, send_buf_.size());
  else
    recv_window_.Allocate(record_.window, recv_buf_.size());
  LogMsg(dlDetail, "Sliding window of " + std::to_string(record_.window) + " packets.");
}

void TvxKermit::EndWindowedFile(bool discard) {
  run_.window_eof = true;
  run_.window_discard = run_.window_discard || discard;
}

void TvxKermit::FillWindow() {
  while (State() == fsSend && !run_.window_eof && !send_window_.Full()) {
    const std::ptrdiff_t field = ReadDataField(true);
    if (field < 0) return;
    if (field == 0) {
      run_.window_eof = true;
      break;
    }
    last_data_field_ = static_cast<std::size_t>(field);
    SendPacket('D', field_buf_.data(), last_data_field_);
    // Each packet of a window is timed from its own sending to its acknowledgement.
    round_trip_.Untimed();
    send_window_.Push(run_.send_seq - 1, send_buf_.data(), run_.last_sent_size, last_data_field_,
                      record_.repeats_sent);
    record_.window_peak = std::max(record_.window_peak, send_window_.Count());
    DoProgress();
  }
  // The file's end (or its skip) goes once every packet before it is acknowledged.
  if (State() == fsSend && run_.window_eof && send_window_.Empty()) SendEOF(run_.window_discard);
}

void TvxKermit::WindowAcknowledged(int number, const std::uint8_t* data, std::size_t len) {
  if (!send_window_.Acknowledge(number)) return;
  // Timed only when nothing went again while it was in flight: a receiver may hold back its
  // answers until a missing packet arrives, and that wait is the line's fault, not the
  // peer's pace (counted, it would lengthen every later wait).
  if (send_window_.RepeatsBefore(number) == record_.repeats_sent)
    round_trip_.Measured(std::chrono::steady_clock::now() - send_window_.SentAt(number));
  packet_sizer_.Delivered(send_window_.Field(number), send_window_.Repeats(number));
  // The receiver asks to skip the file ("X") or all files ("Z").
  if (len > 0 && (data[0] == 'X' || data[0] == 'Z')) SkipByReceiver(data[0] == 'Z');
  if (send_window_.Slide() > 0) ResetRetries();
  FillWindow();
  // A full window held up by its first packet while the newest one is acknowledged: on a line
  // that keeps order, that packet's answer was lost. It goes again at once (once; a time-out
  // repeats it after that) instead of after a whole time-out.
  if (SendingData() && send_window_.Full() &&
      number == send_window_.Base() + send_window_.Count() - 1) {
    const int oldest = send_window_.OldestUnacknowledged();
    if (oldest == send_window_.Base() && send_window_.Repeats(oldest) == 0) RepeatOldest();
  }
}

void TvxKermit::WindowAck() {
  // An acknowledgement of a packet no longer kept (a late answer to a repeat) moves nothing.
  const int number = send_window_.Find(RecvSeq());
  if (number >= 0) WindowAcknowledged(number, RecvData(), RecvDataLen());
}

void TvxKermit::WindowNak() {
  const std::uint8_t seq = RecvSeq();
  const int number = send_window_.Find(seq);
  if (number >= 0) {
    // Only the refused packet goes again, as it was. A receiver may refuse a missing packet
    // once for every packet that arrives after it; each NAK is answered all the same, since
    // a repeat damaged on its way is asked for only so (waiting costs a time-out instead).
    if (send_window_.Acknowledged(number) || !CountRetry()) return;
    send_window_.Repeated(number);
    DoDataSend(send_window_.Bytes(number), static_cast<Cardinal>(send_window_.Size(number)));
    ++record_.repeats_sent;
    round_trip_.Untimed();
    StartReplyTimer();
    return;
  }
  // A NAK for any other packet, the one after the last sent included, moves nothing: a
  // receiver may ask for that one while it still misses earlier ones. The time-out repeats
  // the oldest packet, which the receiver answers again when it has it.
}

void TvxKermit::RepeatOldest() {
  const int number = send_window_.OldestUnacknowledged();
  if (number < 0) return;
  send_window_.Repeated(number);
  DoDataSend(send_window_.Bytes(number), static_cast<Cardinal>(send_window_.Size(number)));
  ++record_.repeats_sent;
  round_trip_.Untimed();
  StartReplyTimer();
}

void TvxKermit::DispatchWindowed(std::uint8_t type) {
  const std::uint8_t seq = RecvSeq();
  const std::uint8_t expected = ExpectedSeq();
  // Only what a sender sends in a transfer moves the receiver on.
  const bool actionable = type == 'F' || type == 'A' || type == 'D' || type == 'Z' || type == 'B';
  switch (recv_window_.Place(seq, expected)) {
    case TRecvPlace::kPrevious:
      // Acted on already; the sender missed the answer: it gets it again.
      ++record_.repeats_received;
      if (!CountRetry()) return;
      SendAck();
      return;
    case TRecvPlace::kExpected:
      if (!actionable) break;
      ActOnReceived(type, seq, true);
      // Refused (a damaged field) or the session ended: nothing moves.
      if (State() != fsReceive || last_recv_seq_ != seq) return;
      recv_window_.Advance();
      run_.window_nak_sent = false;
      DrainWindow();
      return;
    case TRecvPlace::kAhead:
      if (!actionable) break;
      // A data field that does not decode is damage: refused before it is held.
      if (type == 'D' && !recv_window_.Holds(seq, expected) && DecodeReceived() < 0) return;
      recv_window_.Keep(seq, expected, recv_buf_.data(), recv_data_pos_ + recv_data_len_,
                        recv_data_pos_, recv_data_len_);
      record_.window_peak = std::max(record_.window_peak, recv_window_.HeldCount());
      SendAck();
      // The oldest missing packet is asked for once; a time-out asks again.
      if (!run_.window_nak_sent) {
        run_.window_nak_sent = true;
        SendNak();
      }
      return;
    case TRecvPlace::kOutside:
      break;
  }
  if (Logs(dlDetail))
    LogMsg(dlDetail, "Ignored: " + std::to_string(seq) + " while " + std::to_string(expected) +
                         " is expected");
}

void TvxKermit::DrainWindow() {
  std::size_t pos = 0, len = 0;
  while (State() == fsReceive &&
         recv_window_.TakeExpected(recv_buf_.data(), recv_buf_.size(), pos, len)) {
    recv_data_pos_ = pos;
    recv_data_len_ = len;
    const std::uint8_t seq = ExpectedSeq();
    ActOnReceived(RecvType(), seq, false);
    if (State() != fsReceive) return;
    // A held packet that cannot be taken now never will be: lost data, never success.
    if (last_recv_seq_ != seq)
      return RaiseFatalError(17, kProtocolViolation,
                             "Packet " + std::to_string(seq) + " could not be taken.");
    recv_window_.Advance();
  }
  // Packets wait behind another gap: its first packet is asked for at once.
  if (State() == fsReceive && recv_window_.HeldCount() > 0) {
    run_.window_nak_sent = true;
    SendNak();
  }
}

}  // namespace vxcomm
