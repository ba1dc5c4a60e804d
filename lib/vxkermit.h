// Unit vxkermit: the Kermit file-transfer component. One component sends (SendFiles) and,
// while it listens, receives when a peer's Send-Init arrives. It reaches the line only
// through the processor chain (DoDataSend) and files only through the file-transfer base,
// so two components can be wired back to back or through a faulty line.
//
// Thread: no lock. Every member below is owned by the thread that delivers received data
// and timer ticks to the processor chain (the main thread in the demo); SendFiles, Abort
// and SkipFile must be called from that thread, and every event runs on it.
#pragma once

#include "vxcomm_export.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "vxftbase.h"
#include "vxkermit/packet.h"
#include "vxkermit/packetsizer.h"
#include "vxkermit/roundtrip.h"
#include "vxkermit/sendinit.h"

// The block check this side proposes: types 1, 2 and 3.
enum TvxKermitCrc : std::uint8_t { crc6bit = 0, crc12bit = 1, crc16bit = 2 };

class VXCOMM_EXPORT TvxKermit : public TvxCustomFileTransfer {
  Q_OBJECT
  Q_PROPERTY(bool LongPackets READ LongPackets WRITE SetLongPackets)
  Q_PROPERTY(int MaxLongPacketLength READ MaxLongPacketLength WRITE SetMaxLongPacketLength)
  Q_PROPERTY(bool RepeatCounts READ RepeatCounts WRITE SetRepeatCounts)

 public:
  // Details of fatal error 17 besides those of the file-transfer base: a file that cannot
  // be opened, created, read or written; a peer that breaks the protocol (file data for no
  // open file, a break inside a file). Either ends the session with an E packet first.
  static constexpr Cardinal kFileFailure = 9;
  static constexpr Cardinal kProtocolViolation = 10;

  // The buffers' sizes outside long-packet sessions; a session with long packets sizes them
  // once, at its start, for the longest packet this side offers.
  static constexpr std::size_t RecvBufSize = vxkermit::kPacketImageSize;
  static constexpr std::size_t SendBufSize = vxkermit::kPacketImageSize;
  // The longest file name an F packet carries.
  static constexpr std::size_t MaxFileNameLength = 90;

  explicit TvxKermit(QObject* owner = nullptr);
  ~TvxKermit() override;

  TvxKermitCrc Crc() const { return crc_; }
  void SetCrc(TvxKermitCrc value) { crc_ = value; }
  // The QBIN this side puts in its Send-Init and, as a receiver, asks for when the sender
  // only agrees: "Y" (the default) prefixes bytes with the eighth bit set only when the
  // peer asks for it; a prefix character (normally "&") asks for it, for a 7-bit line.
  std::uint8_t EighthBitPrefix() const { return qbin_proposal_; }
  void SetEighthBitPrefix(std::uint8_t value) { qbin_proposal_ = value; }
  // Off by default: the reply time-out is always Timeout. On: it follows the measured
  // round trip (four times the smoothed round trip, at least MinReplyTimeoutMs, at most
  // Timeout; doubled for each failure of the same packet up to twice Timeout), and a
  // damaged reply makes the sender repeat its packet at once, so a bad line costs a round
  // trip per fault instead of a whole Timeout.
  bool AdaptiveTimeout() const { return adaptive_timeout_; }
  void SetAdaptiveTimeout(bool value) { adaptive_timeout_ = value; }
  static constexpr int MinReplyTimeoutMs = 100;
  // The eighth-bit prefix in force for this session; 0 when none.
  std::uint8_t Qbin() const { return qbin_; }

  // Off by default (the Send-Init stays the classic one). On: this side offers long
  // packets, with extended lengths up to MaxLongPacketLength, in its Send-Init and in its
  // answer to a sender that offers them; they are used only when both sides agree, and a
  // packet that fits a classic one is sent as one. Takes effect at the next session.
  bool LongPackets() const { return long_packets_; }
  void SetLongPackets(bool value) { long_packets_ = value; }
  // The longest extended length this side offers and takes: 95..9024 (values outside are
  // brought into that range); 9024 by default.
  int MaxLongPacketLength() const { return max_long_packet_; }
  void SetMaxLongPacketLength(int value);
  // Peers differ in how they count the MAXLX announced (a widely used one sends one byte more
  // than this side offered): a long packet up to this many bytes longer is still taken.
  static constexpr std::size_t LongPacketTolerance = 8;
  // Off by default. On: this side proposes repeat-count compression with RepeatPrefix and,
  // receiving, accepts the prefix a sender proposes; used only when both sides agree.
  // Takes effect at the next session.
  bool RepeatCounts() const { return repeat_counts_; }
  void SetRepeatCounts(bool value) { repeat_counts_ = value; }
  // The repeat prefix proposed when sending: "~" by default. A character that cannot be a
  // prefix, or that is the control prefix "#" or the eighth-bit prefix proposed, proposes
  // no repeat counts.
  std::uint8_t RepeatPrefix() const { return repeat_prefix_; }
  void SetRepeatPrefix(std::uint8_t value) { repeat_prefix_ = value; }

  // What this session agreed, read-only: the longest extended length this side may send
  // (0: classic packets only), the longest it takes (0: a long header is damage), and the
  // repeat prefix in force (0: none).
  std::size_t SendLongPacketLength() const { return send_long_; }
  std::size_t RecvLongPacketLength() const { return recv_long_; }
  std::uint8_t Rept() const { return rept_; }
  // The largest packet (MARK through the check) this side sent, and verified as received,
  // since the last session started: shows whether long packets were actually used.
  std::size_t LargestPacketSent() const { return largest_sent_; }
  std::size_t LargestPacketReceived() const { return largest_received_; }

  // Session state, read-only for applications and tests.
  const std::uint8_t* RecvBuf() const { return recv_buf_.data(); }
  const std::uint8_t* SendBuf() const { return send_buf_.data(); }
  int SendSeq() const { return send_seq_; }
  const vxkermit::TInitParams& InitParams() const { return init_params_; }
  std::uint8_t LastSentType() const { return last_sent_type_; }
  int CheckIndex() const { return check_index_; }
  std::uint8_t LastRecvSeq() const { return last_recv_seq_; }
  std::int64_t DataPos() const { return data_pos_; }
  int FileIndex() const { return file_index_; }
  const std::string& SkipCode() const { return skip_code_; }

  // The block check of a classic packet image (RecvBufSize bytes from MARK) with CheckIndex.
  std::uint16_t CalcBlockCheck(const std::uint8_t* packet) const;
  // True when the image's check characters match CalcBlockCheck.
  virtual bool VerifyBlockCheck(const std::uint8_t* packet);

  // The OnPacketLength handler of the packet definition: Ch is the LEN byte. The packet
  // ends with the byte after its check (the peer's end of line); a LEN too short for any
  // packet completes it at once, to be refused as damaged. In a session that takes long
  // packets a blank LEN asks for the extended header: its HCHECK is verified first, and a
  // bad one, or a length above RecvLongPacketLength, completes the packet at once too.
  void DoPacketLength(TvxDataPacket* packet, std::uint8_t ch, bool& isHandled);

  void DoPacket(int index) override;
  void DoTimeout() override;
  // Timeout, or with AdaptiveTimeout during a session the time-out the round trip gives.
  int SilenceTimeout() const override;
  // The detector stops the timer after every tick; while a session runs the packet sent on
  // a time-out needs its own reply time-out, so the timer runs again.
  void DoTimer(TObject* sender) override;
  void ResetPackets() override;
  // Tells a running session's peer with an E packet, then ends the session locally; a
  // partly received file stays on disk.
  void AbortTransfer(const std::string& reason) override;
  // Builds the list and, when it has files, starts a session with a Send-Init.
  void SendFiles(const std::string& mask) override;
  // Sending: ends the current file at once (Z, with "D" when DeleteFile); receiving: the
  // next data acknowledgement asks the sender to skip ("X", or "Z" for all files).
  void SkipFile(bool skipAll, bool deleteFile) override;

 protected:
  // Frames Len bytes of Data as one packet of Type with SendSeq (a long packet when they do
  // not fit a classic one and long packets are agreed), sends it through the chain,
  // advances SendSeq and restarts the reply timer.
  void SendPacket(std::uint8_t type, const void* data, std::size_t len);
  // Sends the last packet again as it was: same bytes, same sequence number.
  void ResendLastPacket();
  void BadCheck();
  void ResetSession(TvxTransferState state);
  void StartSession(TvxTransferState state);

  void SendInit();
  void SendFileHeader();
  void SendAttributes();
  void SendFileData();
  void SendEOF(bool discard);
  void SendBreak();
  void SendError(const std::string& msg);
  void SendAck();
  void SendNak();

  void ReceiveInit();
  // False when the name field is damaged: refused like a bad check, not acknowledged.
  bool ReceiveFileHeader();
  void ReceiveAttributes();
  // False when the data field is damaged: refused like a bad check, not acknowledged.
  bool ReceiveFileData();
  void ReceiveEOF();
  void ReceiveAck();
  void ReceiveNak();
  void ReceiveError();
  void EndSession();
  // The value of the received A packet's first attribute Letter; empty when missing.
  std::string GetAttribute(char letter) const;

 private:
  // SEQ, TYPE and the data field of the verified packet in RecvBuf.
  std::uint8_t RecvSeq() const { return recv_buf_[vxkermit::kSeqPos]; }
  std::uint8_t RecvType() const { return recv_buf_[vxkermit::kTypePos]; }
  const std::uint8_t* RecvData() const { return recv_buf_.data() + recv_data_pos_; }
  std::size_t RecvDataLen() const { return recv_data_len_; }
  // Decodes the data field into the session's decode buffer: the byte count, or -1 for a
  // damaged field, which is refused like a bad check.
  std::ptrdiff_t DecodeReceived();
  // True when the packet collected into RecvBuf (Size bytes, MARK through the check) has a
  // LEN (or, for a long packet, a header) that fits it and the current check, an
  // end-of-line Terminator, and a correct check; then sets where its data field lies.
  bool AcceptPacket(std::size_t size, std::uint8_t terminator);
  // Sizes the session's buffers for the packets this side may send and take; nothing
  // grows after this during the session.
  void SizeBuffers();
  void Dispatch();
  // Receiving: acts only on the packet expected; the previous one is answered again, any
  // other is refused with a NAK for the one expected.
  void DispatchReceived(std::uint8_t type);
  // Sending: what the acknowledgement of the outstanding packet (with its data field) makes
  // the sender do next.
  void AdvanceOnAck(const std::uint8_t* data, std::size_t len);
  std::uint8_t ExpectedSeq() const { return static_cast<std::uint8_t>((last_recv_seq_ + 1) & 63); }
  std::uint8_t OutstandingSeq() const { return static_cast<std::uint8_t>((send_seq_ - 1) & 63); }
  void StartReplyTimer();
  // The longest data field of a classic packet under the peer's MAXL, and the longest this
  // side may send, long packets included.
  std::size_t MaxClassicField() const { return vxkermit::MaxDataField(init_params_, check_index_); }
  std::size_t MaxDataField() const;

  std::vector<std::uint8_t> recv_buf_;
  std::vector<std::uint8_t> send_buf_;
  std::vector<std::uint8_t> field_buf_;   // a D packet's encoded data field before framing
  std::vector<std::uint8_t> raw_buf_;     // file bytes read for one D packet
  std::vector<std::uint8_t> decode_buf_;  // a received data field, decoded
  std::size_t recv_data_pos_ = vxkermit::kDataPos;
  std::size_t recv_data_len_ = 0;
  vxkermit::TInitBlock init_block_;  // the Send-Init block this side sent or answered with
  std::size_t last_sent_size_ = 0;   // bytes of the last packet in SendBuf
  int send_seq_ = 0;
  vxkermit::TInitParams init_params_{};
  std::uint8_t last_sent_type_ = 0;
  int check_index_ = 0;
  TvxKermitCrc crc_ = crc6bit;
  std::uint8_t last_recv_seq_ = 0;
  std::int64_t data_pos_ = 0;
  int file_index_ = 0;
  std::string skip_code_;
  // After an abort the E may have crossed a packet the peer was still answering, and a
  // peer that clears its input before it answers never saw it: every packet the peer sends
  // before a new session gets the E again.
  bool answer_with_error_ = false;
  std::uint8_t qbin_proposal_ = 'Y';
  std::uint8_t qbin_ = 0;
  bool adaptive_timeout_ = false;
  vxkermit::TRoundTrip round_trip_;
  // The length of new data packets when long packets are agreed (sender only).
  vxkermit::TPacketSizer packet_sizer_;
  std::size_t last_data_field_ = 0;
  bool long_packets_ = false;
  int max_long_packet_ = static_cast<int>(vxkermit::kMaxLongPacketLength);
  bool repeat_counts_ = false;
  std::uint8_t repeat_prefix_ = vxkermit::kDefaultRepeatPrefix;
  std::size_t send_long_ = 0;
  std::size_t recv_long_ = 0;
  std::uint8_t rept_ = 0;
  std::size_t largest_sent_ = 0;
  std::size_t largest_received_ = 0;
};
