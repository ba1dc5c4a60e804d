/// @file
/// What lives for one Kermit session: what it agreed and counted (TSessionRecord, readable
/// after it ends) and the state it runs on (TSessionState); and what lives for one file of it
/// (TFileState). Each is cleared in one statement.
///
/// Thread: none; the Kermit component's thread owns both values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxcomm {

namespace vxkermit {

/// What a session agreed and counted. Cleared when a session starts and kept after it ends,
/// so that an application reads the last session's figures once it is over. Owned by its
/// component; no lock.
struct TSessionRecord {
  int window = 1;                    ///< the window agreed; 1 when none
  int window_peak = 0;               ///< the most packets in flight (or held) at once
  bool stream = false;               ///< both sides declared the link reliable: it streams
  bool peer_like = false;            ///< the peer named itself a Unix system
  bool recovery_agreed = false;      ///< both sides offered recovery
  bool attributes = false;           ///< both sides take A packets
  std::size_t largest_sent = 0;      ///< the largest packet sent, MARK through the check
  std::size_t largest_received = 0;  ///< the largest packet verified as received
  int repeats_sent = 0;              ///< packets this side sent again
  int repeats_received = 0;          ///< packets the peer sent again after this side took them
  int timeouts = 0;                  ///< waits for the peer that ran out
};

/// Where a sending session is: what the receiver was last asked to take. The session ends
/// with the B (the component listens again).
enum class TSendPhase : std::uint8_t {
  kInit,        ///< the Send-Init went; its answer brings the peer's parameters
  kFileHeader,  ///< a file's F went
  kAttributes,  ///< the file's A went
  kData,        ///< the file's data goes, through the session's data mode
  kEndOfFile,   ///< the file's Z went
};

/// Where a receiving session is: what it takes next from the sender. Anything else breaks
/// the protocol and ends the session.
enum class TReceivePhase : std::uint8_t {
  kFile,        ///< after the Send-Init or a file's end: the next file's F, or the B
  kAttributes,  ///< after an F: the file's A packets, its data or its end
  kData,        ///< after the file's first data: more data or its end
};

/// The state a running session works on. Cleared when a session starts and when it ends
/// (or breaks). Owned by its component; no lock.
struct TSessionState {
  int send_seq = 0;  ///< the sequence number of the next packet (not mod 64)
  TSendPhase send_phase = TSendPhase::kInit;           ///< sending: where the session is
  TReceivePhase receive_phase = TReceivePhase::kFile;  ///< receiving: where the session is
  std::uint8_t last_sent_type = 0;  ///< TYPE of the packet in the send buffer; 0 when none
  std::size_t last_sent_size = 0;   ///< bytes of the last packet sent
  std::int64_t data_pos = 0;        ///< sending: where the last D packet was read from
  int file_index = 0;               ///< sending: the file being sent or next to send
  std::uint8_t qbin = 0;            ///< the eighth-bit prefix in force; 0 when none
  std::uint8_t rept = 0;            ///< the repeat prefix in force; 0 when none
  std::size_t send_long = 0;        ///< the longest extended length to send; 0: classic
  std::size_t recv_long = 0;        ///< the longest extended length taken; 0: classic
  bool bare_controls = false;       ///< sending: control characters travel bare
  bool output_waited = false;       ///< streaming: the reply timer last saw output waiting
  bool window_eof = false;          ///< window: the file's data is all in flight
  bool window_discard = false;      ///< window: its Z asks to discard the file
  bool window_nak_sent = false;     ///< window: the packet expected was refused already
  int silent_timeouts = 0;          ///< time-outs in a row with nothing heard from the peer
  /// The retries per packet a window allows beyond RetryLimit: every packet in flight may
  /// need its own repeat before the window moves on. 0 without a window.
  int retry_allowance = 0;
  /// After an abort the E may have crossed a packet the peer was still answering, and a peer
  /// that clears its input before it answers never saw it: every packet the peer sends
  /// before a new session gets the E again.
  bool answer_with_error = false;
  /// After the last file: the number of the B that ended the session (the B stays in the
  /// send buffer, last_sent_type 'B'), repeated to a receiver that asks for it again.
  std::uint8_t break_seq = 0;
};

/// What lives for the file being sent or received. Cleared when a session starts and when a
/// file's F packet is sent or taken; kept after the file ends, so that an application reads
/// the last file's figures (its recovered length, whether it crossed as text). Owned by its
/// component; no lock.
struct TFileState {
  bool text = false;           ///< the file crosses as text
  std::int64_t recovered = 0;  ///< the bytes a resend or a recovery did not send again
  /// Receiving: the date the sender gave the file, in seconds since the epoch; -1 none. It
  /// decides an update and, with FileDates, becomes the stored file's date.
  std::int64_t received_date = -1;
  bool refused = false;               ///< receiving: the file was refused; its data goes nowhere
  bool kept = false;                  ///< receiving: opened in place, not yet settled
  bool settled = false;               ///< receiving: the collision policy has decided on the file
  bool skip_sent = false;             ///< receiving: this file's skip request went to the sender
  std::string attributes_reply;       ///< receiving: the acknowledgement of the file's A packet
  std::int64_t announced_exact = -1;  ///< receiving: the exact length its A packet gave; -1 none
  std::int64_t announced_k = -1;      ///< receiving: the length in K its A packet gave; -1 none
  std::int64_t wire_bytes = 0;        ///< receiving a text file: the canonical bytes that arrived
  std::int64_t wire_lf = 0;           ///< receiving a text file: the line feeds among them
};

}  // namespace vxkermit

}  // namespace vxcomm
