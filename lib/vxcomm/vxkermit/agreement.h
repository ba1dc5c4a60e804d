/// @file
/// The Send-Init this side sends, and what a Kermit session runs on once the two Send-Init
/// blocks are exchanged: block check, prefixes, packet lengths each way, window, streaming,
/// recovery, attributes and what the peer is, from this side's options and the peer's block.
/// The sender agrees on the answer to its S; the receiver on the sender's S, and gets the
/// answer to send with it.
///
/// Thread: any; nothing here keeps state, and a received block is read no further than the
/// length given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vxcomm/vxkermit/options.h"
#include "vxcomm/vxkermit/sendinit.h"

namespace vxcomm {

namespace vxkermit {

/// The session both sides agreed on.
struct TAgreement {
  /// The parameters in force: the peer's answer (sending) or this side's answer (receiving).
  TInitParams params{};
  int check_index = 0;        ///< the block check after the exchange: 0, 1, 2 for types 1..3
  std::uint8_t qctl = '#';    ///< the control prefix
  std::uint8_t qbin = 0;      ///< the eighth-bit prefix; 0 when none
  std::uint8_t rept = 0;      ///< the repeat prefix; 0 when none
  std::size_t send_maxl = 0;  ///< the longest classic packet this side sends (the peer's MAXL)
  std::size_t recv_maxl = 0;  ///< the longest classic packet this side's block takes
  std::size_t send_long = 0;  ///< the longest extended length this side sends; 0: classic
  std::size_t recv_long = 0;  ///< the longest extended length this side takes; 0: classic
  int window = 1;             ///< the window; 1 when none
  bool stream = false;        ///< both sides declared the link reliable
  bool recovery = false;      ///< both sides offered recovery
  bool attributes = false;    ///< both sides take A packets
  bool peer_like = false;     ///< the peer named itself a Unix system
  /// The peer's block shows a full Kermit program, which takes control characters bare.
  bool peer_takes_bare_controls = false;
  /// Receiving: the block of this side's answer to the S; empty when sending.
  TInitBlock answer{};
};

/// A sender's Send-Init: the ten classic fields and the whole block.
struct TOwnSendInit {
  TInitParams params{};
  TInitBlock block{};
};

/// The S a sender with the options Own sends, its reply time-out TimeoutMs: the block check,
/// prefixes and capabilities Own offers, the long-packet length and window when Own offers
/// them, WHATAMI when it streams or describes the system (binary unless it sends text).
TOwnSendInit OwnSendInit(const TvxKermitOptions& own, std::int64_t timeoutMs);

/// The sender's agreement: Own, the ten fields this side sent with its S (Sent), and the
/// peer's answer (Len bytes of Answer).
///
/// Each capability holds only when both sides offer it. Long packets: the shorter of the
/// two limits is sent, and this side takes up to its own; a window: the smaller offer, none
/// while streaming; prefixes as AgreedQbin and AgreedRept give them; the block check,
/// control prefix and MAXL are the answer's as ReadInitParams reads them.
TAgreement AgreeOnAnswer(const TvxKermitOptions& own, const TInitParams& sent,
                         const std::uint8_t* answer, std::size_t len);

/// The receiver's agreement on the sender's S (Len bytes of SendInit), with the answer.
///
/// The answer is AnswerSendInit's, with the resend capability when recovery is agreed,
/// this side's long-packet limit when the sender offers long packets, the window agreed,
/// and WHATAMI when Own streams (its streaming bit only when the sender declared the link
/// reliable too) or describes the system. The agreement then follows as for the sender.
TAgreement AgreeOnSendInit(const TvxKermitOptions& own, const std::uint8_t* sendInit,
                           std::size_t len);

}  // namespace vxkermit

}  // namespace vxcomm
