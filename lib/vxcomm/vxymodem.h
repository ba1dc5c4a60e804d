/// @file
/// Unit vxymodem: the YMODEM batch file-transfer component. SendFiles sends every file its
/// mask names, each announced by block 0 (its name, length and modification time), its data
/// in 1K blocks with CRC-16 and EOT, then an empty block 0 that ends the batch; ReceiveFiles
/// stores each file announced under its name in DefaultPath, cut to its announced length and
/// dated as its sender said, until the empty block 0. A receiver that asks with 'G'
/// (Streaming) gets YMODEM-g: blocks stream without acknowledgements, and any damage ends the
/// session. It reaches the line only through the processor chain (DoDataSend) and files only
/// through the file-transfer base.
///
/// What a file result foComplete means: sending, every block and the EOT were acknowledged
/// (with Streaming: the EOT); the session ends at the ACK of the empty block 0, or, since a
/// receiver may leave without that ACK reaching the line, when its reply time-out runs out
/// with every file acknowledged; receiving, every block arrived in sequence with a sound CRC-16,
/// the sender ended with EOT, and the file holds the length its block 0 gave. CRC-16 finds
/// most damage, not all.
///
/// Thread: no lock. Every member is owned by the thread that delivers received data and
/// timer ticks to the processor chain (the main thread in the demo); SendFiles, ReceiveFiles,
/// Abort and SkipFile must be called from that thread, and every event runs on it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/vxxmodem/blocktransfer.h"

namespace vxcomm {

/// The YMODEM batch file-transfer component (see the file description): a reply time-out
/// per block; repeats on NAK or time-out up to RetryLimit times for one block (the wait for
/// the peer to start or to ask for the next file included), within ErrorLimit for the
/// session.
///
/// A fatal error (a file that fails, a block out of sequence, a block 0 that cannot be read,
/// too many errors or retries, no file to send, any damage under YMODEM-g) ends a running
/// session with CAN CAN to the peer first, then throws Exception out of the call that met it
/// unless OnFatalError cancels it. A peer's CAN CAN ends the session as aborted; it is not
/// raised. A received file that does not complete is removed. A file that cannot be opened,
/// created, read or written, or that ends short of the length its block 0 gave, is fatal
/// error 17/kFileFailure; a block out of sequence, a block 0 whose fields cannot be read or
/// damage under YMODEM-g is 17/kProtocolViolation.
class VXCOMM_EXPORT TvxYModem : public TvxBlockTransfer {
  Q_OBJECT
  Q_PROPERTY(bool Streaming READ Streaming WRITE SetStreaming)

 public:
  /// Creates an idle component owned by Owner, with a Timeout of 10000 ms, a RetryLimit of 10
  /// and no ErrorLimit to speak of.
  explicit TvxYModem(QObject* owner = nullptr);
  ~TvxYModem() override;

  /// Receiving: ask with 'G' for YMODEM-g, blocks without acknowledgements (for an
  /// error-free line only). Off by default: 'C', every block acknowledged. A sender always
  /// does what its receiver asks.
  bool Streaming() const { return streaming_; }
  void SetStreaming(bool value) { streaming_ = value; }
  /// Whether the running (or last) session streams (YMODEM-g).
  bool StreamingInUse() const { return streaming_in_use_; }

  /// Sends every file Mask names, each when the receiver asks for it, then ends the batch.
  /// A listed file that cannot be opened is passed over. No file is fatal error 17/6.
  void SendFiles(const std::string& mask) override;
  /// Receives files into DefaultPath until the sender ends the batch. A file the collision
  /// policy refuses, or that cannot be created, is fatal error 17/kFileFailure.
  void ReceiveFiles();

 private:
  /// Where the session is.
  enum class TStep : std::uint8_t {
    kIdle,
    kSendStart,   ///< sending: waiting for 'C' or 'G' to send the next block 0
    kSendHeader,  ///< sending: waiting for the answer to block 0
    kSendData,    ///< sending: block 0 acknowledged, waiting for 'C' or 'G' for the data
    kSendBlock,   ///< sending: waiting for the answer to the block sent
    kSendStream,  ///< sending YMODEM-g: blocks go out on timer ticks
    kSendEot,     ///< sending: waiting for the answer to EOT
    kSendFinish,  ///< sending: waiting for the answer to the empty block 0
    kRecvHeader,  ///< receiving: asked for block 0
    kRecvBlock    ///< receiving: between or inside data blocks
  };

  // Sending (sender.cpp, sendstream.cpp).
  bool SenderByte(std::uint8_t ch) override;
  void SendHeader();
  bool OpenNextFile();
  void SendNextBlock() override;
  bool FrameNextBlock();
  void SendStream();
  void FileSent();
  void SenderTimedOut() override;

  // Receiving (receiver.cpp, recvheader.cpp).
  void TakeHeader();
  void OpenFile(const std::string& sentName, std::int64_t length, std::int64_t modified);
  void TakeBlock() override;
  void TakeEot() override;
  void TakeBadBlock() override;
  void AskToStart();
  void ReceiverTimedOut() override;
  void StreamDamage(const std::string& what);

  // The session (ymodem.cpp).
  void StartSession(TStep step, bool sending);

  bool streaming_ = false;

  TStep step_ = TStep::kIdle;
  bool streaming_in_use_ = false;
  // Sending.
  int next_file_ = 0;               ///< the index in FileList of the next file to announce
  std::vector<std::uint8_t> data_;  ///< file bytes read for the next block
  std::uint8_t send_number_ = 1;
  // Receiving.
  std::vector<std::uint8_t> header_;  ///< the data of block 0 of the file being received
  std::uint8_t expected_ = 1;         ///< the number of the next new block
  bool got_block_ = false;            ///< a data block of this file was taken
  std::int64_t length_ = -1;          ///< the length block 0 gave; -1 for none
  std::int64_t modified_ = -1;        ///< the time block 0 gave; -1 for none
  std::int64_t written_ = 0;          ///< bytes of the file written
  bool eot_seen_ = false;             ///< one EOT arrived and was NAKed to confirm it
  bool file_done_ = false;            ///< a file was stored: a new EOT means our ACK was lost
};

}  // namespace vxcomm
