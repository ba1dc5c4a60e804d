/// @file
/// Unit vxzmodem: the ZMODEM batch file-transfer component. SendFiles sends every file its
/// mask names: ZRQINIT until the receiver answers with ZRINIT, then for each file a ZFILE
/// (its name, length and modification time) and, from the position the receiver asks for
/// with ZRPOS, its data in subpackets streamed after one ZDATA header (or, when the
/// receiver gives a buffer size, in segments of that size, each waiting for the receiver's
/// ZACK), then ZEOF; at the end ZFIN, answered by ZFIN, and "OO". ReceiveFiles answers with
/// ZRINIT (full duplex, overlapped I/O, CRC-32), stores each file under its name in
/// DefaultPath, dated as its sender said, and asks with ZRPOS for the data again from the
/// position it holds whenever a subpacket or header is damaged or lost. It reaches the line
/// only through the processor chain (DoDataSend) and files only through the file-transfer
/// base.
///
/// What a file result foComplete means: receiving, every byte of the file arrived in order
/// in subpackets with a sound CRC (CRC-32 when the sender uses it, else CRC-16), the sender's
/// ZEOF named the position this side holds, which is the length its ZFILE gave, and the
/// file is stored under its name; sending, the receiver answered the file's ZEOF with ZRINIT.
/// A subpacket carries no length, so a byte the line lost, doubled or made up is found by the
/// CRC alone: CRC-32 lets about one such subpacket in 4 x 10^9 through, CRC-16 one in 65536,
/// which a long session on a line that loses bytes may meet. CRC-16 finds every error of one
/// to three bits in a subpacket of up to 4 KiB.
/// The session ends in success once ZFIN was answered with ZFIN.
///
/// Sending, a receiver's ZCRC after ZFILE is answered with the CRC-32 of the file's first
/// bytes (as many as it names; all for 0); receiving, a sender's ZFREECNT is answered with
/// ZACK and the bytes free in DefaultPath's file system (at most 2^32 - 1).
///
/// Thread: no lock. Every member is owned by the thread that delivers received data and
/// timer ticks to the processor chain (the main thread in the demo); SendFiles, ReceiveFiles,
/// Abort and SkipFile must be called from that thread, and every event runs on it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/vxftbase.h"
#include "vxcomm/vxzmodem/frame.h"
#include "vxcomm/vxzmodem/reader.h"

namespace vxcomm {

/// The ZMODEM file-transfer component (see the file description): a reply time-out
/// (Timeout) for every answer awaited and for the line's silence while data is expected;
/// the waits and repeats of one header (or of one position of the file) are limited by
/// RetryLimit, the whole session's errors by ErrorLimit.
///
/// A fatal error (a file that cannot be opened, created, read or written, a file whose end
/// is not the length announced, a peer that breaks the protocol, too many errors or
/// retries, no file to send) ends a running session with the cancel sequence (eight ZDLE and
/// ten backspaces) to the peer first, then throws Exception out of the call that met it
/// unless OnFatalError cancels it. A peer's five ZDLE end the session as aborted; it is not
/// raised. A received file that does not complete is removed (kept hidden as its part with
/// Resume); one the collision policy refuses, or SkipFile skips, is skipped with ZSKIP and
/// the session goes on. A sender that announces another file inside one ends that one
/// short: it is removed, its result told as skipped by the peer.
class VXCOMM_EXPORT TvxZModem : public TvxCustomFileTransfer {
  Q_OBJECT
  Q_PROPERTY(bool Crc32 READ Crc32 WRITE SetCrc32)
  Q_PROPERTY(bool EscapeControls READ EscapeControls WRITE SetEscapeControls)
  Q_PROPERTY(int SubpacketSize READ SubpacketSize WRITE SetSubpacketSize)
  Q_PROPERTY(bool Resume READ Resume WRITE SetResume)

 public:
  /// Fatal error 17 detail: a file that cannot be opened, created, read or written, or that
  /// ends short of (or beyond) the length its ZFILE gave.
  static constexpr Cardinal kFileFailure = 9;
  /// Fatal error 17 detail: the peer broke the protocol.
  static constexpr Cardinal kProtocolViolation = 10;

  /// Creates an idle component owned by Owner, with a Timeout of 10000 ms, a RetryLimit of 10
  /// and no ErrorLimit to speak of.
  explicit TvxZModem(QObject* owner = nullptr);
  ~TvxZModem() override;

  /// Receiving: offer CRC-32 (CANFC32); sending: use it when the receiver offers it. On by
  /// default; off, frames carry CRC-16.
  bool Crc32() const { return crc32_; }
  void SetCrc32(bool value) { crc32_ = value; }
  /// Receiving: ask the sender to escape every control character (ESCCTL); sending: escape
  /// them whatever the receiver asks. Off by default: the sender escapes them when its
  /// receiver asks.
  bool EscapeControls() const { return escape_controls_; }
  void SetEscapeControls(bool value) { escape_controls_ = value; }
  /// Sending: the data bytes of one subpacket, 32 to 8192 (values outside are taken to the
  /// nearer bound); 1024 by default. The receiver asking for the same position again halves
  /// it (down to kMinSubpacket) for the rest of the file; one that gets further doubles it
  /// back.
  int SubpacketSize() const { return subpacket_size_; }
  void SetSubpacketSize(int value);
  /// Receiving: what arrived of a file whose session breaks stays hidden in DefaultPath
  /// (".NAME.vxpart", never under its name, never reported complete), and the next ZFILE
  /// of that name whose length is at least the part's asks with ZRPOS for the data from
  /// the part's end; a longer part is received anew, and a file already under the name is
  /// never appended to. Sending: each ZFILE asks the receiver to resume what it holds
  /// (ZCRESUM). Off by default: a broken file is removed, and ZFILE asks for the file whole.
  /// Sending, the data goes from wherever the receiver asks in either case.
  bool Resume() const { return resume_; }
  void SetResume(bool value) { resume_ = value; }
  /// The smallest subpacket a sender makes, however bad the line (see SubpacketSize).
  static constexpr int kMinSubpacket = 32;

  /// Whether the running (or last) session's frames carry CRC-32.
  bool Crc32InUse() const { return crc32_in_use_; }
  /// Times the data went again from an earlier position (ZRPOS taken, sending; sent,
  /// receiving) in the running or last session.
  int Repeats() const { return repeats_; }
  /// Sending: the receiver's buffer size from its ZRINIT (0: it takes a stream).
  int ReceiverBuffer() const { return rx_buffer_; }

  /// Sends every file Mask names, then ends the session. A listed file that cannot be opened
  /// is passed over. No file is fatal error 17/6.
  void SendFiles(const std::string& mask) override;
  /// Receives files into DefaultPath until the sender ends the session.
  void ReceiveFiles();

  /// Tells a running session's peer with the cancel sequence, then ends the session; a
  /// partly received file is removed.
  void AbortTransfer(const std::string& reason) override;
  /// Skips the file that crosses; the session goes on with the next one, and its result is
  /// told as skipped by this side (foSkippedByUs). Receiving, the sender is told with ZSKIP
  /// and what arrived of the file is removed (whatever DeleteFile says); with SkipAll every
  /// later file is skipped too, until the sender ends the session. Sending, the file's data
  /// ends where it is and the next file's ZFILE follows (no ZEOF: the receiver does not
  /// store it as complete); with SkipAll no further file is announced and ZFIN follows.
  /// Between files, or once the whole file went out, nothing is skipped.
  void SkipFile(bool skipAll, bool deleteFile) override;
  /// Takes the peer's bytes while a session runs, then passes the block on.
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override;
  /// The reply time-out ran out, or (streaming) the next subpackets are due.
  void DoTimer(TObject* sender) override;
  /// The medium opened or closed: a running session is aborted.
  void ResetPackets() override;

 protected:
  /// The file's bytes that crossed: from where its data started (what a resumed file held
  /// already, or the receiver's first ZRPOS) to the position reached.
  std::int64_t BytesCrossed() const override;

 private:
  /// Where the session is.
  enum class TStep : std::uint8_t {
    kIdle,
    kSendInit,      ///< sending: ZRQINIT sent, waiting for ZRINIT
    kSendFile,      ///< sending: ZFILE sent, waiting for ZRPOS or ZSKIP
    kSendData,      ///< sending: subpackets go out on timer ticks
    kSendWait,      ///< sending: a segment ended with ZCRCW, waiting for its ZACK
    kSendEof,       ///< sending: ZEOF sent, waiting for ZRINIT
    kSendFin,       ///< sending: ZFIN sent, waiting for ZFIN
    kRecvInit,      ///< receiving: ZRINIT sent, waiting for ZFILE, ZSINIT or ZFIN
    kRecvSinit,     ///< receiving: reading ZSINIT's subpacket
    kRecvFileInfo,  ///< receiving: reading ZFILE's subpacket
    kRecvData,      ///< receiving: a file open, waiting for ZDATA, its subpackets or ZEOF
    kRecvFinish     ///< receiving: ZFIN answered, waiting for "OO"
  };

  // The session (zmodem.cpp).
  void StartSession(TStep step, bool sending);
  void EndSession();
  void PeerCancelled();
  void FileFailure(const std::string& what);
  void Violation(const std::string& what);
  void Arm(int ms);
  void SendHex(const vxzmodem::THeader& header);
  void SendBinary(const vxzmodem::THeader& header);
  void Flush();
  void TakeEvent(vxzmodem::TFrameEvent event);

  // Questions of the peer's (queries.cpp).
  void AnswerCrc(std::uint32_t count);
  void AnswerFreeCount();

  // Skipping (skip.cpp).
  void SkipIncoming();
  void SkipSending(bool skipAll);

  // Sending (sender.cpp, senddata.cpp).
  void SenderHeader(const vxzmodem::THeader& header);
  void SenderTimedOut();
  void TakeReceiverInit(const vxzmodem::THeader& header);
  void SendNextFile();
  bool OpenNextFile();
  void SendFileInfo();
  void FileSent(TvxFileOutcome outcome, const std::string& reason);
  void SendFinish();
  void StartData(std::uint32_t position);
  void SendBurst();
  void SendEof();

  // Receiving (receiver.cpp, recvfile.cpp).
  void ReceiverHeader(const vxzmodem::THeader& header);
  void ReceiverSubpacket();
  void ReceiverDamage();
  void ReceiverTimedOut();
  void SendReceiverInit();
  void AskFrom();
  void TakeData();
  void TakeEof(std::uint32_t position);
  void TakeFileInfo();
  void OpenFile(const std::string& sentName, std::int64_t length, std::int64_t modified);
  std::int64_t ResumeFrom(bool kept, std::int64_t length);
  void TakeFin();

  bool crc32_ = true;
  bool escape_controls_ = false;
  int subpacket_size_ = 1024;
  bool resume_ = false;

  TStep step_ = TStep::kIdle;
  bool running_ = false;
  bool crc32_in_use_ = false;
  int repeats_ = 0;
  vxzmodem::TFrameReader reader_;
  vxzmodem::TFrameEncoder encoder_;
  std::vector<std::uint8_t> out_;  ///< frames built for one DoDataSend
  std::int64_t from_ = 0;          ///< the position the open file's data started from
  // Sending.
  int next_file_ = 0;                ///< the index in FileList of the next file to announce
  int rx_buffer_ = 0;                ///< the receiver's buffer size; 0 for a stream
  std::int64_t send_pos_ = 0;        ///< the file position of the next byte to send
  std::int64_t segment_ = 0;         ///< bytes sent since the last ZDATA header
  std::int64_t asked_ = 0;           ///< the furthest position the receiver asked for
  int block_ = 1024;                 ///< the data of the next subpacket, at most
  std::vector<std::uint8_t> chunk_;  ///< file bytes read for the next subpacket
  // Receiving.
  std::vector<std::uint8_t> info_;  ///< the subpacket of the ZFILE being received
  std::uint8_t sinit_flags_ = 0;    ///< ZSINIT's F0 while its subpacket is read
  std::int64_t pos_ = 0;            ///< bytes of the file written
  std::int64_t length_ = -1;        ///< the length ZFILE gave; -1 for none
  std::int64_t modified_ = -1;      ///< the time ZFILE gave; -1 for none
  bool file_done_ = false;          ///< a file was stored: a repeated ZEOF means ZRINIT was lost
  std::int64_t done_length_ = 0;    ///< the length of the file stored last
  int oo_ = 0;                      ///< 'O' bytes after our ZFIN
  bool skip_all_ = false;           ///< SkipFile(true): every later file is skipped
  bool skipping_ = false;           ///< ZSKIP sent; the skipped file's data may still come
};

}  // namespace vxcomm
