/// @file
/// Unit vxkermit: the Kermit file-transfer component. One component sends (SendFiles) and,
/// while it listens, receives when a peer's Send-Init arrives. It reaches the line only
/// through the processor chain (DoDataSend) and files only through the file-transfer base,
/// so two components can be wired back to back or through a faulty line.
///
/// Thread: no lock. Every member below is owned by the thread that delivers received data
/// and timer ticks to the processor chain (the main thread in the demo); SendFiles, Abort
/// and SkipFile must be called from that thread, and every event runs on it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vxcomm/vxftbase.h"
#include "vxcomm/vxkermit/options.h"
#include "vxcomm/vxkermit/packet.h"
#include "vxcomm/vxkermit/packetsizer.h"
#include "vxcomm/vxkermit/recvwindow.h"
#include "vxcomm/vxkermit/roundtrip.h"
#include "vxcomm/vxkermit/sendinit.h"
#include "vxcomm/vxkermit/sendinitdetector.h"
#include "vxcomm/vxkermit/sendwindow.h"
#include "vxcomm/vxkermit/session.h"

namespace vxcomm {

namespace vxkermit {
class TDataMode;
class TOneAtATime;
class TWindowMode;
class TStreamMode;
struct TAgreement;
}  // namespace vxkermit

/// The Kermit file-transfer component: sends the files of SendFiles and, while listening,
/// receives the files a peer sends. Send-Init, file header, attributes, data, end of file
/// and break, with a reply time-out per packet, repeats on damage and optional long packets,
/// repeat counts and eighth-bit prefixing, each used only when both sides agree.
///
/// Thread: see the file description. A fatal error (a file that fails, a peer that breaks
/// the protocol, too many errors or retries, no files to send, a closed port) ends a running
/// session with an E packet to the peer first, then throws Exception out of the call that met it
/// (SendFiles, or the chain's delivery of received data or of a timer tick) unless OnFatalError
/// cancels it. A peer's E packet ends the session as aborted, logged with the peer's message; it is
/// not raised.
///
/// Receiving, a file that FileCollision refuses, or whose name is a symbolic link, a
/// directory or another non-regular entry of DefaultPath, is refused as the protocol has
/// it and the session goes on: the acknowledgement of its A packet says "N" ("N#" when its
/// date decided), and the sender skips it. A sender that gives no A packet is asked in the
/// acknowledgement of the file's first D packet to skip it ("X"); in a streaming session,
/// which acknowledges no D packet, the session ends with an E packet instead; an empty file
/// without an A packet is not stored, and its sender is not told. FileRefusal says why.
/// Sending, a file whose A packet the receiver refuses is skipped: its Z asks to discard it.
class VXCOMM_EXPORT TvxKermit : public TvxCustomFileTransfer {
  Q_OBJECT
  Q_PROPERTY(bool LongPackets READ LongPackets WRITE SetLongPackets)
  Q_PROPERTY(int MaxLongPacketLength READ MaxLongPacketLength WRITE SetMaxLongPacketLength)
  Q_PROPERTY(bool RepeatCounts READ RepeatCounts WRITE SetRepeatCounts)
  Q_PROPERTY(bool ExactLength READ ExactLength WRITE SetExactLength)
  Q_PROPERTY(bool FileDates READ FileDates WRITE SetFileDates)
  Q_PROPERTY(bool Streaming READ Streaming WRITE SetStreaming)
  Q_PROPERTY(bool MinimalPrefixing READ MinimalPrefixing WRITE SetMinimalPrefixing)
  Q_PROPERTY(TvxControlPrefixing ControlPrefixing READ ControlPrefixing WRITE SetControlPrefixing)
  Q_PROPERTY(bool Recovery READ Recovery WRITE SetRecovery)
  Q_PROPERTY(int WindowSize READ WindowSize WRITE SetWindowSize)
  Q_PROPERTY(bool DescribeSystem READ DescribeSystem WRITE SetDescribeSystem)
  Q_PROPERTY(bool TextConversion READ TextConversion WRITE SetTextConversion)
  Q_PROPERTY(bool NameConversion READ NameConversion WRITE SetNameConversion)
  Q_PROPERTY(bool RefuseServerCommands READ RefuseServerCommands WRITE SetRefuseServerCommands)
  Q_PROPERTY(bool CheckLengths READ CheckLengths WRITE SetCheckLengths)
  Q_PROPERTY(bool SkipUnreadableFiles READ SkipUnreadableFiles WRITE SetSkipUnreadableFiles)

 public:
  /// Fatal error 17 detail: a file that cannot be opened, created, read or written.
  ///
  /// Details of fatal error 17 besides those of the file-transfer base: a file that cannot
  /// be opened, created, read or written; a peer that breaks the protocol (file data for no
  /// open file, a break inside a file). Either ends the session with an E packet first.
  static constexpr Cardinal kFileFailure = 9;
  /// Fatal error 17 detail: a peer that breaks the protocol (file data for no open file, a
  /// file header or a break inside a file); see kFileFailure.
  static constexpr Cardinal kProtocolViolation = 10;
  /// Fatal error 17 detail: a streaming session met an error (a damaged packet, a time-out,
  /// a packet out of sequence, a NAK). Nothing is repeated on such a link: the session ends
  /// with an E packet, and a file being received is never reported received.
  static constexpr Cardinal kStreamingFailure = 11;
  /// Fatal error 17 detail: a resend cannot go on: the receiver reports more bytes than the
  /// file has, or a length that cannot be read. The session ends with an E packet; the
  /// receiver's file is left as it was.
  static constexpr Cardinal kRecoveryFailure = 12;
  /// Fatal error 17 detail: SendFiles found files to send, but the I/O component the
  /// component is attached to is not open; nothing is sent and no session starts.
  static constexpr Cardinal kPortClosed = 13;
  /// The message of kPortClosed.
  static constexpr const char* kPortClosedText = "The port is not open.";

  /// The receive buffer's size outside long-packet sessions; a session with long packets
  /// sizes the buffers once, at its start, for the longest packet this side offers.
  static constexpr std::size_t RecvBufSize = vxkermit::kPacketImageSize;
  /// The send buffer's size outside long-packet sessions (see RecvBufSize).
  static constexpr std::size_t SendBufSize = vxkermit::kPacketImageSize;
  /// The longest file name an F packet carries in a session of classic packets.
  static constexpr std::size_t MaxFileNameLength = 90;
  /// The longest file name an F packet carries when long packets are agreed: a whole name
  /// of the file system.
  static constexpr std::size_t MaxLongFileNameLength = 255;

  /// Creates a listening component owned by Owner, with one packet definition that is live
  /// at once (a component attached to an open medium listens without a reopen) and a
  /// Timeout of 5000 ms.
  explicit TvxKermit(QObject* owner = nullptr);
  /// Destroys the component; the base closes any open file. The peer of a running session
  /// is not told.
  ~TvxKermit() override;

  /// Every setting of this component at once: the value its properties read and write.
  const TvxKermitOptions& Options() const { return options_; }
  /// Sets every setting at once (MaxLongPacketLength and WindowSize brought into their
  /// ranges): TvxKermitOptions::Basic() gives the defaults back, TvxKermitOptions::Extended()
  /// what our programs turn on. Each takes effect when its property says.
  void SetOptions(const TvxKermitOptions& value) { options_ = value.Clamped(); }

  /// The block check this side proposes in its Send-Init (crc6bit by default).
  TvxKermitCrc Crc() const { return options_.crc; }
  /// Sets Crc; takes effect at the next Send-Init this side sends.
  void SetCrc(TvxKermitCrc value) { options_.crc = value; }
  /// The QBIN this side puts in its Send-Init and, as a receiver, asks for when the sender
  /// only agrees: "Y" (the default) prefixes bytes with the eighth bit set only when the
  /// peer asks for it; a prefix character (normally "&") asks for it, for a 7-bit line.
  std::uint8_t EighthBitPrefix() const { return options_.eighth_bit_prefix; }
  /// Sets EighthBitPrefix; takes effect at the next session.
  void SetEighthBitPrefix(std::uint8_t value) { options_.eighth_bit_prefix = value; }
  /// Whether the reply time-out follows the line.
  ///
  /// Off by default: the reply time-out is always Timeout. On: it follows the measured
  /// round trip (the smoothed round trip plus four times its deviation, and at least twice
  /// the slowest round trip of the session, so that a loaded machine's late replies are
  /// waited for; at least MinReplyTimeoutMs, at most Timeout; doubled for each failure of the
  /// same packet up to twice Timeout; with a window each packet is timed from its own
  /// sending to its acknowledgement), and a
  /// damaged reply makes the sender repeat its packet at once, so a bad line costs a round
  /// trip per fault instead of a whole Timeout.
  bool AdaptiveTimeout() const { return options_.adaptive_timeout; }
  /// Sets AdaptiveTimeout.
  void SetAdaptiveTimeout(bool value) { options_.adaptive_timeout = value; }
  /// The shortest reply time-out AdaptiveTimeout gives, in ms.
  static constexpr int MinReplyTimeoutMs = 100;
  /// The shortest reply time-out AdaptiveTimeout gives while D packets are in flight in a
  /// window, in ms; the round trips measured raise it.
  static constexpr int MinWindowReplyTimeoutMs = 10;
  /// The eighth-bit prefix in force for this session; 0 when none.
  std::uint8_t Qbin() const { return run_.qbin; }

  /// Whether this side offers long packets.
  ///
  /// Off by default (the Send-Init stays the classic one). On: this side offers long
  /// packets, with extended lengths up to MaxLongPacketLength, in its Send-Init and in its
  /// answer to a sender that offers them; they are used only when both sides agree, and a
  /// packet that fits a classic one is sent as one. Takes effect at the next session.
  bool LongPackets() const { return options_.long_packets; }
  /// Sets LongPackets; takes effect at the next session.
  void SetLongPackets(bool value) { options_.long_packets = value; }
  /// The longest extended length this side offers and takes: 95..9024; 9024 by default.
  int MaxLongPacketLength() const { return options_.max_long_packet_length; }
  /// Sets MaxLongPacketLength; values outside 95..9024 are brought into that range. Takes
  /// effect at the next session.
  void SetMaxLongPacketLength(int value);
  /// How much longer than offered a received long packet may be and still be taken.
  ///
  /// Peers differ in how they count the MAXLX announced (a widely used one sends one byte
  /// more than this side offered): a long packet up to this many bytes longer is still taken.
  static constexpr std::size_t LongPacketTolerance = 8;
  /// Whether this side uses repeat-count compression.
  ///
  /// Off by default. On: this side proposes repeat-count compression with RepeatPrefix and,
  /// receiving, accepts the prefix a sender proposes; used only when both sides agree.
  /// Takes effect at the next session.
  bool RepeatCounts() const { return options_.repeat_counts; }
  /// Sets RepeatCounts; takes effect at the next session.
  void SetRepeatCounts(bool value) { options_.repeat_counts = value; }
  /// The repeat prefix proposed when sending: "~" by default. A character that cannot be a
  /// prefix, or that is the control prefix "#" or the eighth-bit prefix proposed, proposes
  /// no repeat counts.
  std::uint8_t RepeatPrefix() const { return options_.repeat_prefix; }
  /// Sets RepeatPrefix; takes effect at the next Send-Init this side sends.
  void SetRepeatPrefix(std::uint8_t value) { options_.repeat_prefix = value; }
  /// Whether the attributes this side sends carry the exact length in bytes ("1") besides
  /// the length in K ("!").
  ///
  /// Off by default. A receiver reads "1" whenever a sender gives it.
  bool ExactLength() const { return options_.exact_length; }
  /// Sets ExactLength; takes effect at the next file sent.
  void SetExactLength(bool value) { options_.exact_length = value; }
  /// Whether file dates cross: sending, the attributes carry the file's modification time
  /// ("#", local time); receiving, a date a sender gives becomes the received file's
  /// modification time once the file is complete.
  ///
  /// Off by default. A date that cannot be read or applied is ignored (logged in detail).
  bool FileDates() const { return options_.file_dates; }
  /// Sets FileDates; takes effect at the next file.
  void SetFileDates(bool value) { options_.file_dates = value; }
  /// Which control characters the data this side sends keeps behind the control prefix.
  ///
  /// cpfAll by default: every control character travels behind the control prefix, as the
  /// basic protocol has it. cpfMinimal: the 24 control characters no line or receiver acts on
  /// travel as they are, which saves about a tenth of the line on random data; receivers take
  /// a data field by its length, but a bootloader's may not: use it only on a line and with a
  /// peer known to take them. cpfPeerAware: minimal with a peer whose Send-Init shows a full
  /// Kermit program (it offers sliding windows or says what it is), every one prefixed with
  /// any other. Kermit has no field to agree on it: it is this sender's own choice, made when
  /// the peer's answer to the Send-Init arrives. Takes effect at the next session.
  TvxControlPrefixing ControlPrefixing() const { return options_.control_prefixing; }
  /// Sets ControlPrefixing.
  void SetControlPrefixing(TvxControlPrefixing value) { options_.control_prefixing = value; }
  /// Whether ControlPrefixing is cpfMinimal.
  bool MinimalPrefixing() const { return options_.control_prefixing == cpfMinimal; }
  /// Sets ControlPrefixing to cpfMinimal (true) or cpfAll (false).
  void SetMinimalPrefixing(bool value) { options_.control_prefixing = value ? cpfMinimal : cpfAll; }
  /// Whether the data packets of the current sending session leave control characters bare
  /// (ControlPrefixing, and with cpfPeerAware the peer's Send-Init, decide); false outside one.
  bool MinimalPrefixingAgreed() const { return run_.bare_controls; }
  /// Whether this side declares the link reliable and streams when the peer agrees.
  ///
  /// Off by default (the Send-Init stays as it was). On: the Send-Init, and the answer to a
  /// sender's, carry WHATAMI with the streaming bit; when both blocks carry it the session
  /// streams: the sender sends D packets without waiting for their acknowledgements and the
  /// receiver sends none (F, A, Z and B are acknowledged as usual). Any error in such a
  /// session (a damaged packet, a time-out, a sequence gap, a NAK) is fatal error 17 with
  /// kStreamingFailure: the peer gets an E packet and nothing is repeated. Declare only a
  /// link that does not lose or damage bytes. Takes effect at the next session.
  bool Streaming() const { return options_.streaming; }
  /// Sets Streaming; takes effect at the next session.
  void SetStreaming(bool value) { options_.streaming = value; }
  /// Whether this side offers recovery (the RESEND capability).
  ///
  /// Off by default (the Send-Init stays as it was). On: the Send-Init, and the answer to a
  /// sender that offers it, carry the capability. Receiving in a session where both offer
  /// it, a file the sender announces with the disposition "+R" of which DefaultPath holds a
  /// part or the file itself is not emptied at its F packet: the acknowledgement of its A packet
  /// reports the bytes it holds ("1"), and the data that follows is appended to them. A
  /// file that exists but is longer than the exact length announced ("1") is received
  /// whole instead (reported as 0 bytes held); without "+R" an existing file is left as it
  /// was and FileCollision decides. A file that does not exist is received whole (0 bytes
  /// held). A transfer that breaks leaves its part hidden in DefaultPath (".NAME.vxpart"),
  /// which the next "+R" for NAME appends to first. Sending with
  /// ResendFiles needs it from the peer, not this property. Takes effect at the next session.
  bool Recovery() const { return options_.recovery; }
  /// Sets Recovery; takes effect at the next session.
  void SetRecovery(bool value) { options_.recovery = value; }
  /// Sends the files of Mask like SendFiles, resuming each where the receiver's copy ends.
  ///
  /// The Send-Init offers recovery whatever Recovery says. When the peer offers it too (and
  /// takes attributes), each file's A packet carries "+R" and the data starts at the length
  /// the receiver reports, so only the rest crosses; a receiver that holds the whole file
  /// gets none. A reported length above the file's size, or one that cannot be read, is
  /// fatal error 17 with kRecoveryFailure (the receiver's copy is not touched further).
  /// With a peer that does not offer recovery every file is sent whole, as by SendFiles
  /// (logged); a file whose A packet the receiver refuses ("N") is skipped as with SendFiles.
  /// Same thread and errors as SendFiles.
  void ResendFiles(const std::string& mask);
  /// Whether the current (or, after it, the last) session agreed on recovery: both sides
  /// offered it. Set once the Send-Init exchange agreed; only a session ResendFiles started
  /// resends files.
  bool RecoveryAgreed() const { return record_.recovery_agreed; }
  /// The bytes of the current file the receiver already held when its transfer began: where
  /// a resend started reading (sending) or appending (receiving); 0 for a file sent whole.
  /// Set at the file's A packet, cleared at its F packet; kept after the file ends.
  std::int64_t RecoveredLength() const { return file_.recovered; }

  /// Whether the current (or, after it, the last) session streams: both sides declared the
  /// link reliable. Cleared when a session starts, set once the Send-Init exchange agreed.
  bool StreamingAgreed() const { return record_.stream; }
  /// The bytes of D packets a streaming sender frames in one turn of the event loop and
  /// hands to the medium in one block, before it lets received data (an E from the peer)
  /// and other events in. The next burst waits for a later turn on the component's thread;
  /// a fatal error met there is raised from that turn.
  static constexpr std::size_t StreamBurstBytes = 64 * 1024;
  /// A streaming sender frames its next burst only once the medium's output queue
  /// (OutQueueCount of the I/O component) has drained below this many bytes: the line's
  /// pace, not the sender's, sets how much waits to leave. While more waits it looks again
  /// every StreamPollMs.
  static constexpr Cardinal StreamQueueBytes = 128 * 1024;
  /// See StreamQueueBytes.
  static constexpr int StreamPollMs = 1;

  /// The most packets this side offers to have in flight (a sliding window): 1..31.
  ///
  /// 1 by default: no window is offered and the Send-Init stays as it was. Above 1: the
  /// Send-Init, and the answer to a sender's, offer the window (the CAPAS window bit and
  /// WINDO); the session uses the smaller of both offers, and a peer that offers none gets
  /// one packet at a time. With a window a sender keeps up to that many D packets in flight
  /// (F, A, Z and B still go one at a time) and repeats only a packet the receiver refuses
  /// or the oldest one on a time-out; a receiver acknowledges each packet it takes, keeps the
  /// packets that arrive after a missing one and writes them in order once it arrives. While
  /// a window is in use each packet may fail RetryLimit plus the window's size times (see
  /// SessionRetryLimit); RetryLimit itself keeps what was set. A session that streams uses
  /// no window. Takes effect at the next session.
  int WindowSize() const { return options_.window_size; }
  /// Sets WindowSize; values outside 1..31 are brought into that range.
  void SetWindowSize(int value);
  /// The window of the current (or, after it, the last) session: 1 when none was agreed.
  int WindowAgreed() const { return record_.window; }
  /// The consecutive failures allowed one packet in the running session: RetryLimit (read
  /// afresh, so a change during a session counts at once), plus the window's size while a
  /// window is in use and RetryLimit is above 0 (every packet in flight may need its own
  /// repeat before the window moves on). 0: no limit. Silence is judged by RetryLimit alone.
  int SessionRetryLimit() const override;
  /// The most packets the current (or last) session had in flight at once when sending, or
  /// held after a missing one when receiving; 0 without a window.
  int WindowPeak() const { return record_.window_peak; }
  /// The packets this side sent again in the current (or last) session: on a time-out, for
  /// a NAK, or when an answer was seen lost. On a clean line 0, on a loaded machine too.
  int RepeatsSent() const { return record_.repeats_sent; }
  /// The packets of the current (or last) session that the peer sent again after this side
  /// had taken them: it missed the answer, or did not wait long enough for it.
  int RepeatsReceived() const { return record_.repeats_received; }
  /// The waits for the peer that ran out in the current (or last) session.
  int TimeoutCount() const { return record_.timeouts; }
  /// The bytes the session's window holds in reserve (window x largest packet): fixed once
  /// the window is agreed, whatever the file's length.
  std::size_t WindowReservedBytes() const;

  /// Whether this side tells the peer what it is.
  ///
  /// Off by default (the Send-Init, its answer and the A packets stay as they were). On: the
  /// Send-Init, and the answer to a sender's, go on through WHATAMI (binary mode and literal
  /// names, unless FileType is ftText) and carry the system ID of a Unix system; every A
  /// packet begins with the system ID and the file type. A peer in automatic mode that reads
  /// them knows it talks to a like system and sends its files in binary with their names as
  /// they are. Takes effect at the next session.
  bool DescribeSystem() const { return options_.describe_system; }
  /// Sets DescribeSystem.
  void SetDescribeSystem(bool value) { options_.describe_system = value; }
  /// How this side sends files: ftBinary by default (every file byte for byte).
  ///
  /// ftText sends every file as text: each LF goes as CR LF, and the A packet names the
  /// file type text; ftAuto picks per file (see TvxKermitFileType). A file sent as text is
  /// never resent from the middle (recovery applies to binary files). Takes effect at the
  /// next file.
  TvxKermitFileType FileType() const { return options_.file_type; }
  /// Sets FileType.
  void SetFileType(TvxKermitFileType value) { options_.file_type = value; }
  /// Whether a received file the A packet calls text is stored as a Unix text file.
  ///
  /// Off by default: every file is stored byte for byte. On: a file whose type attribute
  /// says text ("A") is stored without its CRs, as both standard peers store text (CR LF
  /// becomes LF); a binary file, and one of no stated type, byte for byte. The stored length
  /// of such a file differs from the one announced. Takes effect at the next file.
  bool TextConversion() const { return options_.text_conversion; }
  /// Sets TextConversion.
  void SetTextConversion(bool value) { options_.text_conversion = value; }
  /// Whether a name that arrives in Kermit's converted form is stored in local form.
  ///
  /// Off by default: a name is stored as it arrives. On: from a sender that did not name
  /// itself a like system in its Send-Init (and so sends names converted, in upper case),
  /// a name without lower-case letters is stored with its letters in lower case
  /// ("TEXT.TXT" as "text.txt"); a mixed-case name stays as it is. Takes effect at the next
  /// file.
  bool NameConversion() const { return options_.name_conversion; }
  /// Sets NameConversion.
  void SetNameConversion(bool value) { options_.name_conversion = value; }
  /// Whether a server command is refused at once.
  ///
  /// Off by default: while listening every packet but a Send-Init is ignored. On: a server
  /// command a client sends (I, G, R, C or K: get, remote dir, finish, bye) is answered at
  /// once with an E packet carrying kNotAServer, so the client reports it and ends.
  bool RefuseServerCommands() const { return options_.refuse_server_commands; }
  /// Sets RefuseServerCommands.
  void SetRefuseServerCommands(bool value) { options_.refuse_server_commands = value; }
  /// Whether a received file must have the length its A packet announced.
  ///
  /// Off by default. On: at the file's end its bytes are held against the exact length
  /// ("1"), or without one against the length in K ("!"); a file that differs is fatal error
  /// 17 with kFileFailure (the sender gets an E packet, the session ends as failed). A file
  /// stored as text (TextConversion) is held to its canonical length, or that less one CR
  /// per line, as senders announce it. A file the sender discards is not checked. Sending,
  /// a file whose end comes at another length than the one announced (it shrank or grew
  /// while it was sent) is fatal error 17 with kFileFailure too, and the receiver is told.
  bool CheckLengths() const { return options_.check_lengths; }
  /// Sets CheckLengths.
  void SetCheckLengths(bool value) { options_.check_lengths = value; }
  /// Whether a listed file that cannot be opened for sending is passed over.
  ///
  /// Off by default: such a file is fatal error 17 with kFileFailure, which ends the session.
  /// On: the reason is logged, the file's result is told as skipped (foSkippedByUs, with the
  /// reason) and named in the session's account (TvxSessionResult::unreadable), and the
  /// next file follows; no packet of it goes out, so the receiver never meets it.
  bool SkipUnreadableFiles() const { return options_.skip_unreadable_files; }
  /// Sets SkipUnreadableFiles.
  void SetSkipUnreadableFiles(bool value) { options_.skip_unreadable_files = value; }
  /// The text of the E packet that refuses a server command.
  static constexpr const char* kNotAServer =
      "Not a server: this Kermit only takes files sent to it.";
  /// Whether the peer of the current (or last) session named itself a like system (a Unix
  /// system ID in its Send-Init or its answer).
  bool PeerIsLikeSystem() const { return record_.peer_like; }
  /// Whether the current (or last) file crossed as text: converted on sending, or stored
  /// converted on receiving (then its stored length is not the announced one).
  bool FileIsText() const { return file_.text; }

  /// The longest extended length this session lets this side send; 0: classic packets only.
  std::size_t SendLongPacketLength() const { return run_.send_long; }
  /// The longest extended length this session takes; 0: a long header is damage.
  std::size_t RecvLongPacketLength() const { return run_.recv_long; }
  /// The repeat prefix in force for this session; 0: none.
  std::uint8_t Rept() const { return run_.rept; }
  /// The largest packet (MARK through the check) this side sent since the last session
  /// started: shows whether long packets were actually used.
  std::size_t LargestPacketSent() const { return record_.largest_sent; }
  /// The largest packet (MARK through the check) verified as received since the last session
  /// started.
  std::size_t LargestPacketReceived() const { return record_.largest_received; }

  /// The last packet received (session state, read-only for applications and tests); after
  /// verification LEN and SEQ hold their values, not their characters.
  const std::uint8_t* RecvBuf() const { return recv_buf_.data(); }
  /// The last packet sent, as it went on the line.
  const std::uint8_t* SendBuf() const { return send_buf_.data(); }
  /// The sequence number of the next packet sent (not reduced mod 64).
  int SendSeq() const { return run_.send_seq; }
  /// The Send-Init parameters of this session: the peer's answer when sending, this side's
  /// answer when receiving, this side's proposal while it waits for the answer.
  const vxkermit::TInitParams& InitParams() const { return init_params_; }
  /// The TYPE of the last packet sent; 0 after a reset.
  std::uint8_t LastSentType() const { return run_.last_sent_type; }
  /// The block check in force: 0, 1 or 2 for types 1, 2 and 3.
  int CheckIndex() const { return check_index_; }
  /// Receiving: the sequence number of the last packet acted on.
  std::uint8_t LastRecvSeq() const { return last_recv_seq_; }
  /// Sending: the file position the last data packet was read from.
  std::int64_t DataPos() const { return run_.data_pos; }
  /// Sending: the index in FileList of the file being sent or next to send.
  int FileIndex() const { return run_.file_index; }
  /// Receiving: the skip request ("X" or "Z") for the next acknowledgement, carried only when
  /// that answers a D packet; empty when none.
  const std::string& SkipCode() const { return skip_code_; }

  /// The block check of a classic packet image (RecvBufSize bytes from MARK) with
  /// CheckIndex.
  std::uint16_t CalcBlockCheck(const std::uint8_t* packet) const;
  /// True when the image's check characters match CalcBlockCheck; false for a LEN too short
  /// for the check or too long for the image.
  virtual bool VerifyBlockCheck(const std::uint8_t* packet);

  /// Sets the length of the packet being collected from its LEN byte.
  ///
  /// The OnPacketLength handler of the packet definition: Ch is the LEN byte. The packet
  /// ends with the byte after its check (the peer's end of line); a LEN too short for any
  /// packet completes it at once, to be refused as damaged. In a session that takes long
  /// packets a blank LEN asks for the extended header: its HCHECK is verified first, and a
  /// bad one, or a length above RecvLongPacketLength, completes the packet at once too.
  void DoPacketLength(TvxDataPacket* packet, std::uint8_t ch, bool& isHandled);

  /// A packet was detected (after the base's logging and OnDataPacket): verifies it and acts
  /// on it. In a session a damaged one counts an error and is answered with a NAK
  /// (receiving) or with the last packet again (sending, with AdaptiveTimeout); while
  /// listening it is dropped.
  void DoPacket(int index) override;
  /// The reply time-out ran out: in a session it counts an error (the base's OnTimeout
  /// first) and answers with a NAK (receiving) or the last packet again (sending); nothing
  /// while listening. A wait AdaptiveTimeout made shorter than Timeout counts a retry of the
  /// packet instead: the peer was slower than the round trip said, the line lost nothing.
  void DoTimeout() override;
  /// Timeout, or with AdaptiveTimeout during a session the time-out the round trip gives.
  int SilenceTimeout() const override;
  /// Runs the base's tick, then, in a session, arms the reply timer again.
  ///
  /// The detector stops the timer after every tick; while a session runs the packet sent on
  /// a time-out needs its own reply time-out, so the timer runs again.
  void DoTimer(TObject* sender) override;
  /// The medium opened or closed: a running session is aborted (what was received stays on
  /// disk, hidden as ".NAME.vxpart", and the session ends as failed, never as done), then the
  /// component listens.
  void ResetPackets() override;
  /// Tells a running session's peer with an E packet, then ends the session locally; a
  /// partly received file stays on disk, hidden as ".NAME.vxpart" (never under its name).
  void AbortTransfer(const std::string& reason) override;
  /// Builds the list and, when it has files, starts a session with a Send-Init; an empty
  /// list is fatal error 17/6 (see the base), an attached I/O component that is not open
  /// fatal error 17 with kPortClosed (no Send-Init goes out).
  void SendFiles(const std::string& mask) override;
  /// Sending: ends the current file at once (Z, with "D" when DeleteFile); receiving: the
  /// next data acknowledgement asks the sender to skip ("X", or "Z" for all files).
  void SkipFile(bool skipAll, bool deleteFile) override;

 protected:
  /// The bytes of the open file that crossed in this session (a resent file's start left out).
  std::int64_t BytesCrossed() const override;
  /// Frames Len bytes of Data as one packet of Type with SendSeq (a long packet when they do
  /// not fit a classic one and long packets are agreed), sends it through the chain,
  /// advances SendSeq and restarts the reply timer.
  void SendPacket(std::uint8_t type, const void* data, std::size_t len);
  // DoPacket's work on the packet collected: check, dispatch, answer.
  void TakePacket();
  // Whether the packet just verified is the peer's answer to the packet sent last.
  bool AnswersLastSent() const;
  // Frames a packet into send_buf_ as the last one sent, without sending it.
  void FrameOutgoing(std::uint8_t type, const void* data, std::size_t len);
  /// Repeats what is missing: while data is in flight, as the data mode does; otherwise the
  /// last packet (RepeatLastPacket).
  void ResendLastPacket();
  /// Sends the last packet again as it was: same bytes, same sequence number.
  void RepeatLastPacket();
  /// A packet failed verification: counts an error and, in a session, answers it.
  void BadCheck();
  /// Clears the session's sequence, agreements, error and retry counts and ConsumeData, stops
  /// the timer and enters State.
  void ResetSession(TvxTransferState state);
  /// Starts a session in State: ResetSession, buffers sized for it, the largest-packet
  /// records cleared, and ConsumeData set.
  void StartSession(TvxTransferState state);

  /// Sends this side's Send-Init and starts a sending session.
  void SendInit();
  /// Opens the next file and sends its F packet, or the break when none is left.
  void SendFileHeader();
  /// Opens the listed file at FileIndex for sending, passing over those that cannot be
  /// opened when SkipUnreadableFiles is on. False when none is open: the list is done (the
  /// break went out) or a fatal error ended the session.
  bool OpenListedFile();
  /// Sends the A packet of the open file.
  void SendAttributes();
  /// Sends the next D packet of the open file, or its Z at its end.
  void SendFileData();
  /// The file's data may go (its F, or its A, was acknowledged): the data phase starts
  /// through the session's data mode.
  void StartFileData();
  /// Closes the open file and sends its Z (with "D" when Discard).
  void SendEOF(bool discard);
  /// Sends the B packet and returns to listening.
  void SendBreak();
  /// Sends Msg in one E packet, cut to the data field the peer allows.
  void SendError(const std::string& msg);
  /// Acknowledges the packet in RecvBuf (a Send-Init with this side's answer).
  void SendAck();
  /// Sends a NAK for the packet this side waits for.
  void SendNak();

  /// Reads a sender's Send-Init, prepares the answer and starts a receiving session.
  void ReceiveInit();
  /// Opens the file an F packet names.
  ///
  /// False when the name field is damaged: refused like a bad check, not acknowledged.
  bool ReceiveFileHeader();
  /// Takes the announced size and date from an A packet and settles the file: refused ("N"
  /// in the reply) when FileCollision or the entry in the way says so; with recovery agreed
  /// and "+R", put where its data goes on, with the reply that reports it.
  void ReceiveAttributes();
  /// Writes a D packet's data to the open file.
  ///
  /// False when the data field is damaged: refused like a bad check, not acknowledged.
  bool ReceiveFileData();
  /// Flushes and closes the open file; a Z with "D" deletes it.
  void ReceiveEOF();
  /// Acts on an acknowledgement: through the data mode while data is in flight.
  void ReceiveAck();
  /// One packet at a time: acts on the acknowledgement of the outstanding packet.
  void AnswerAck();
  /// One packet at a time: acts on a NAK of the outstanding packet or of the next one.
  void AnswerNak();
  /// Sending: D packets of the open file are in flight, or its end waits for them.
  bool SendingData() const;
  /// Acts on a NAK: the outstanding packet again, or the next one when the NAK names it.
  void ReceiveNak();
  /// The peer's E packet: ends the session as aborted with the peer's message.
  void ReceiveError();
  /// The peer's break: the session is over.
  void EndSession();
  /// The value of the received A packet's first attribute Letter; empty when missing.
  std::string GetAttribute(char letter) const;

 private:
  friend class vxkermit::TDataMode;
  friend class vxkermit::TOneAtATime;
  friend class vxkermit::TWindowMode;
  friend class vxkermit::TStreamMode;

  /// SEQ of the verified packet in RecvBuf.
  std::uint8_t RecvSeq() const { return recv_buf_[vxkermit::kSeqPos]; }
  /// TYPE of the verified packet in RecvBuf.
  std::uint8_t RecvType() const { return recv_buf_[vxkermit::kTypePos]; }
  /// The data field of the verified packet in RecvBuf.
  const std::uint8_t* RecvData() const { return recv_buf_.data() + recv_data_pos_; }
  /// The data field's length.
  std::size_t RecvDataLen() const { return recv_data_len_; }
  /// Decodes the data field into the session's decode buffer: the byte count, or -1 for a
  /// damaged field, which is refused like a bad check.
  std::ptrdiff_t DecodeReceived();
  /// True when the packet collected into RecvBuf (Size bytes, MARK through the check) has a
  /// LEN (or, for a long packet, a header) that fits it and the current check, an
  /// end-of-line Terminator, and a correct check; then sets where its data field lies.
  bool AcceptPacket(std::size_t size, std::uint8_t terminator);
  /// Sizes the session's buffers for the packets this side may send and take; nothing
  /// grows after this during the session.
  void SizeBuffers();
  void Dispatch();
  /// Receiving, a packet at a time: acts only on the packet expected; the previous one is
  /// answered again, any other is refused with a NAK for the one expected.
  void ReceiveInTurn(std::uint8_t type);
  /// Sending: what the acknowledgement of the outstanding packet (with its data field) makes
  /// the sender do next.
  void AdvanceOnAck(const std::uint8_t* data, std::size_t len);
  // Decides whether control characters travel bare, from ControlPrefixing and whether the
  // peer's answer to the Send-Init shows it takes them bare.
  void AgreePrefixing(bool peerTakesBareControls);
  /// What this side offers in a Send-Init exchange, as its settings give it; Sending adds a
  /// ResendFiles session's recovery.
  TvxKermitOptions OwnTerms(bool sending) const;
  /// Runs the session on what the Send-Init exchange agreed: parameters, block check,
  /// prefixes, packet lengths, streaming, recovery, attributes, the peer's kind and window.
  void ApplyAgreement(const vxkermit::TAgreement& agreed);
  std::uint8_t ExpectedSeq() const { return static_cast<std::uint8_t>((last_recv_seq_ + 1) & 63); }
  std::uint8_t OutstandingSeq() const {
    return static_cast<std::uint8_t>((run_.send_seq - 1) & 63);
  }
  void StartReplyTimer();
  /// Ends a streaming session on an error: fatal error 17 with kStreamingFailure.
  void StreamingFailure(const std::string& what);
  /// Sends D packets of the open file without waiting, a burst in one block once the output
  /// queue has drained below StreamQueueBytes, then leaves the next burst to a later turn of
  /// the event loop; the Z ends the stream and is waited for as usual.
  void StreamData();
  /// The stream's next turn: StreamData again while the file is still streaming.
  void StreamTurn();
  /// Bytes of ours the I/O component still holds for the line; 0 without one.
  Cardinal QueuedOutput() const;
  /// Sending a stream, and some of it still waits to leave.
  bool StreamedOutputWaits() const;
  /// The longest data field of a classic packet under the peer's MAXL.
  std::size_t MaxClassicField() const { return vxkermit::MaxDataField(init_params_, check_index_); }
  /// The longest data field this side may send, long packets included.
  std::size_t MaxDataField() const;
  /// Sending: whether the file just opened goes as text (FileType, the peer and, for
  /// ftAuto, the file's start). Throws EFileStreamError.
  bool SendsAsText();
  /// Receiving: why the file just flushed does not have the length announced; empty when
  /// it has, or when lengths are not checked.
  std::string LengthMismatch();
  /// Receiving: why the file just flushed ended short of the length announced (the sender
  /// skipped it); empty when it did not, or is text.
  std::string ShortOfAnnounced();
  /// Sending: the receiver asked to skip the file (All: and the rest).
  void SkipByReceiver(bool all);
  /// Listening: answers the server command in RecvBuf with an E packet.
  void RefuseServerCommand();
  /// Receiving: opens the file an F packet names (Name, under DefaultPath): what DefaultPath
  /// holds of it while recovery may still append to it, else a new, empty part. The file's
  /// state is cleared before.
  void OpenReceivedFile(const std::string& name);
  /// Receiving: the A packet decides what becomes of the file: refused (the reply "N"), or
  /// taken, and then a file kept at its F packet is appended to from its end ("+R") or
  /// left as it was for a new one; the acknowledgement reports what recovery holds.
  void SettleReceivedFile();
  /// Receiving: the file gets data, or ends, without an A packet having settled it: a file
  /// kept at its F packet stays as it was (the data goes to a new one), and the collision
  /// policy decides now. False when the file is refused. Throws EFileStreamError.
  bool SettleWithoutAttributes();
  /// Receiving: the received file cannot be written or stored (Reason, the system's): it is
  /// removed, part and all, and the session ends with fatal error 17 kFileFailure.
  void FailReceivedFile(const std::string& reason);
  /// Receiving: the collision policy decides on the open file; a refused one is closed and
  /// logged (false, with Attribute set to the attribute that decided it when not null).
  bool TakeReceivedFile(char* attribute);
  /// Sending: whether the open file is being resent ("+R" in its A packet).
  bool ResendingFile() const;
  /// Sending: the acknowledgement of a resent file's A packet (Len bytes of Data) says
  /// where its data starts. False when the sender must not go on: the session ended on it
  /// (kRecoveryFailure), or Data is null (a NAK that stands for the acknowledgement) and the
  /// A packet was sent again.
  bool ResumeSending(const std::uint8_t* data, std::size_t len);
  /// Reads the next D packet's data field from the open file into the field buffer: its
  /// length, 0 at the end of the file (or with no file open), -1 when a fatal error ended the
  /// session. Sized: long packets follow the line's record (packet_sizer_); else they are as
  /// long as agreed.
  std::ptrdiff_t ReadDataField(bool sized);
  /// Acts on a packet in sequence (F, A, D, Z or B): one the receive phase does not take
  /// ends the session (kProtocolViolation); otherwise the receiver's work, the next phase
  /// and, with Ack, its acknowledgement. Leaves last_recv_seq_ at Seq once the packet was
  /// taken.
  void ActOnReceived(std::uint8_t type, std::uint8_t seq, bool ack);

  // Sliding windows (windowing.cpp).
  /// Uses a window of Agreed packets for this session (1: none): sizes it and allows each
  /// packet as many more retries (SessionRetryLimit).
  void AgreeWindow(int agreed);
  /// Sending with a window: this side ends the file; its Z goes once the packets in flight
  /// are acknowledged, and asks to Discard the file when any ending asked so.
  void EndWindowedFile(bool discard);
  /// Sends D packets of the open file until the window is full; the Z once all are
  /// acknowledged at the file's end.
  void FillWindow();
  /// Sending with a window: acts on the acknowledgement or the NAK in RecvBuf.
  void WindowAck();
  void WindowNak();
  /// Sending with a window: the packet Number is acknowledged (with the ACK's data field).
  void WindowAcknowledged(int number, const std::uint8_t* data, std::size_t len);
  /// Sending with a window: sends the oldest packet not yet acknowledged again.
  void RepeatOldest();
  /// Receiving with a window: acts on the packet in RecvBuf (its type given).
  void DispatchWindowed(std::uint8_t type);
  /// Receiving with a window: acts on the held packets that follow the last one acted on.
  void DrainWindow();

  std::vector<std::uint8_t> recv_buf_;
  std::vector<std::uint8_t> send_buf_;
  std::vector<std::uint8_t> field_buf_;   ///< a D packet's encoded data field before framing
  std::vector<std::uint8_t> raw_buf_;     ///< file bytes read for one D packet
  std::vector<std::uint8_t> decode_buf_;  ///< a received data field, decoded
  std::vector<std::uint8_t> text_buf_;    ///< file bytes read for one D packet, as canonical text
  std::size_t recv_data_pos_ = vxkermit::kDataPos;
  std::size_t recv_data_len_ = 0;
  vxkermit::TInitBlock init_block_;  ///< the Send-Init block this side sent or answered with
  vxkermit::TSessionRecord record_;  ///< what the current (or last) session agreed and counted
  vxkermit::TSessionState run_;      ///< the running session's state
  vxkermit::TFileState file_;        ///< the current (or last) file's state
  vxkermit::TInitParams init_params_{};
  int check_index_ = 0;
  TvxKermitOptions options_;  ///< the settings behind the properties
  std::uint8_t last_recv_seq_ = 0;
  std::string skip_code_;
  vxkermit::TRoundTrip round_trip_;
  /// The length of new data packets when long packets are agreed (sender only).
  vxkermit::TPacketSizer packet_sizer_;
  std::size_t last_data_field_ = 0;
  /// Sending while streaming: runs the next burst (StreamTurn); stopped by any other packet
  /// sent and by the session's end.
  QTimer stream_turn_;
  std::vector<std::uint8_t> stream_out_;  ///< the burst of framed D packets being gathered
  bool resend_next_ = false;              ///< the next SendFiles is a ResendFiles
  bool resend_ = false;                   ///< this sending session was started by ResendFiles
  vxkermit::TSendWindow send_window_;
  /// How D packets go: one at a time from each session's start, the agreed mode once the
  /// Send-Init exchange is agreed; never null.
  std::unique_ptr<vxkermit::TDataMode> data_mode_;
  vxkermit::TRecvWindow recv_window_;
  bool damaged_since_sent_ = false;  ///< a damaged packet arrived since the last packet went out
  bool peer_silent_ = false;         ///< the session ends on silence: no E packet goes out
};

}  // namespace vxcomm
