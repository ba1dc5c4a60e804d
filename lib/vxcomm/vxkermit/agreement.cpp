#include "vxcomm/vxkermit/agreement.h"

#include <algorithm>

#include "vxcomm/vxkermit/packet.h"

namespace vxcomm {

namespace vxkermit {

namespace {

// What both sides hold once Ours (the ten fields this side sent or answers with) and the
// peer's block (as read, and its Len bytes of Data) are known; the same for either side.
TAgreement Settle(const TvxKermitOptions& own, const TInitParams& ours, const TInitParams& peer,
                  const std::uint8_t* data, std::size_t len) {
  TAgreement a;
  a.check_index = CheckIndexOf(peer);
  a.qctl = QctlOf(peer);
  a.qbin = AgreedQbin(ours[ipQbin], peer[ipQbin]);
  a.rept = AgreedRept(ours[ipRept], peer[ipRept], a.qctl, a.qbin);
  a.send_maxl = static_cast<std::size_t>(UnChar(peer[ipMaxl]));
  a.recv_maxl = static_cast<std::size_t>(UnChar(ours[ipMaxl]));
  // Long packets only when both offer them: this side sends up to the shorter of the two
  // limits and takes up to its own.
  const std::size_t limit = static_cast<std::size_t>(own.max_long_packet_length);
  const std::size_t offered = own.long_packets ? ReadLongPacketLength(data, len) : 0;
  a.send_long = std::min(offered, limit);
  a.recv_long = a.send_long > 0 ? limit : 0;
  a.stream = own.streaming && (ReadWhatami(data, len) & kWhatamiStreaming) != 0;
  // Streaming needs no window; otherwise the smaller of both offers.
  a.window = a.stream ? 1 : std::min(own.window_size, ReadWindow(data, len));
  a.recovery = own.recovery && OffersCapability(peer, kCapasResend);
  a.attributes =
      OffersCapability(ours, kCapasAttributes) && OffersCapability(peer, kCapasAttributes);
  a.peer_like = ReadSystemId(data, len) == kUnixSystemId;
  a.peer_takes_bare_controls = TakesBareControls(data, len);
  return a;
}

}  // namespace

TOwnSendInit OwnSendInit(const TvxKermitOptions& own, std::int64_t timeoutMs) {
  TOwnSendInit s;
  s.params = OwnProposal(timeoutMs, own.crc, own.eighth_bit_prefix,
                         own.repeat_counts ? own.repeat_prefix : 0);
  if (own.recovery)
    s.params[ipCapas] = ToChar(static_cast<unsigned>(UnChar(s.params[ipCapas])) | kCapasResend);
  const std::size_t offered =
      own.long_packets ? static_cast<std::size_t>(own.max_long_packet_length) : 0;
  std::uint8_t whatami = own.streaming ? kWhatamiValid | kWhatamiStreaming : 0;
  if (own.describe_system)
    whatami |= kWhatamiLiteralNames | (own.file_type == ftText ? 0 : kWhatamiBinary);
  s.block = MakeInitBlock(s.params, offered, whatami, own.window_size, own.describe_system);
  return s;
}

TAgreement AgreeOnAnswer(const TvxKermitOptions& own, const TInitParams& sent,
                         const std::uint8_t* answer, std::size_t len) {
  const TInitParams peer = ReadInitParams(answer, len);
  TAgreement a = Settle(own, sent, peer, answer, len);
  a.params = peer;
  return a;
}

TAgreement AgreeOnSendInit(const TvxKermitOptions& own, const std::uint8_t* sendInit,
                           std::size_t len) {
  const TInitParams sender = ReadInitParams(sendInit, len);
  TInitParams answer = AnswerSendInit(sender, own.eighth_bit_prefix, own.repeat_counts);
  TAgreement a = Settle(own, answer, sender, sendInit, len);
  // The answer says when recovery is agreed.
  if (a.recovery)
    answer[ipCapas] = ToChar(static_cast<unsigned>(UnChar(answer[ipCapas])) | kCapasResend);
  a.params = answer;
  // WHATAMI says whether this side streams too, and how it stores what a like system sends:
  // binary, names literal.
  std::uint8_t whatami =
      own.streaming ? static_cast<std::uint8_t>(kWhatamiValid | (a.stream ? kWhatamiStreaming : 0))
                    : 0;
  if (own.describe_system) whatami |= kWhatamiBinary | kWhatamiLiteralNames;
  a.answer = MakeInitBlock(answer, a.recv_long, whatami, a.window, own.describe_system);
  return a;
}

}  // namespace vxkermit

}  // namespace vxcomm
