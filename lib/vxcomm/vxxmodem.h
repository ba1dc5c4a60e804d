/// @file
/// Unit vxxmodem: the XMODEM file-transfer component. One file per session: SendFiles sends
/// the one file its mask names when the receiver asks for it; ReceiveFile asks a sender for
/// a file and stores it under ReceiveName. It reaches the line only through the processor
/// chain (DoDataSend) and files only through the file-transfer base.
///
/// What XMODEM cannot promise. Its blocks carry neither the file's name nor its length: the
/// last block is padded with SUB (0x1A) to its size, and the receiver keeps that padding (up
/// to one block of it) unless StripPadding is on, which then also takes away SUB bytes that
/// really ended the file. Its checks find most damage, not all: the 8-bit sum misses one
/// damaged block in 256 of those whose length survived, CRC-16 far fewer. So a file result
/// foComplete means, sending: every block and the EOT were acknowledged (an ACK names no
/// block, so a line that duplicates bytes can make a stray ACK pass for the EOT's); receiving:
/// every block arrived in sequence with a sound check and the sender ended with EOT; never that the
/// received file is byte for byte the one sent.
///
/// Thread: no lock. Every member is owned by the thread that delivers received data and
/// timer ticks to the processor chain (the main thread in the demo); SendFiles, ReceiveFile,
/// Abort and SkipFile must be called from that thread, and every event runs on it.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/vxxmodem/blocktransfer.h"

namespace vxcomm {

/// The XMODEM file-transfer component (see the file description): 128-byte SOH blocks or,
/// with Block1K, 1024-byte STX blocks; the 8-bit sum or CRC-16 as the receiver asks; a reply
/// time-out per block; repeats on NAK or time-out up to RetryLimit times for one block (the
/// wait for the peer to start or to ask for the next file included), within ErrorLimit for the
/// session.
///
/// A fatal error (a file that fails, a block out of sequence, too many errors or retries,
/// no file or more than one to send, no ReceiveName) ends a running session with CAN CAN
/// to the peer first, then throws Exception out of the call that met it unless OnFatalError
/// cancels it. A peer's CAN CAN ends the session as aborted; it is not raised. A received
/// file that does not complete is removed: XMODEM cannot resume one.
class VXCOMM_EXPORT TvxXModem : public TvxBlockTransfer {
  Q_OBJECT
  Q_PROPERTY(bool Block1K READ Block1K WRITE SetBlock1K)
  Q_PROPERTY(bool Crc READ Crc WRITE SetCrc)
  Q_PROPERTY(bool StripPadding READ StripPadding WRITE SetStripPadding)

 public:
  /// Fatal error 17 detail: the mask names more than one file; XMODEM sends one per session.
  static constexpr Cardinal kOneFileOnly = 11;
  /// Fatal error 17 detail: ReceiveFile without a ReceiveName.
  static constexpr Cardinal kNoReceiveName = 12;
  /// How many times the receiver asks with 'C' before it falls back to NAK (the sum).
  static constexpr int CrcStartTries = 3;

  /// Creates an idle component owned by Owner, with a Timeout of 10000 ms, a RetryLimit of 10
  /// and no ErrorLimit to speak of.
  explicit TvxXModem(QObject* owner = nullptr);
  ~TvxXModem() override;

  /// Sending: 1024-byte STX blocks (a tail of 128 bytes or less still goes in a SOH block).
  /// Off by default: 128-byte SOH blocks. Takes effect at the next session.
  bool Block1K() const { return block_1k_; }
  void SetBlock1K(bool value) { block_1k_ = value; }
  /// Receiving: ask with 'C' for CRC-16 first (the default; after CrcStartTries unanswered
  /// asks, NAK for the sum); off: NAK, the sum, from the start. A sender always uses what
  /// its receiver asks for.
  bool Crc() const { return crc_; }
  void SetCrc(bool value) { crc_ = value; }
  /// Receiving: SUB bytes that end the last block are not stored. Off by default: the file
  /// keeps the padding. On, a file that really ended in SUB loses those bytes too.
  bool StripPadding() const { return strip_padding_; }
  void SetStripPadding(bool value) { strip_padding_ = value; }
  /// Receiving: the name the file is stored under in DefaultPath (one entry, no "/").
  const std::string& ReceiveName() const { return receive_name_; }
  void SetReceiveName(const std::string& value) { receive_name_ = value; }
  /// The block check of the running (or last) session: true CRC-16, false the sum.
  bool CrcInUse() const { return reader_.Crc(); }

  /// Sends the one file Mask names: waits for the receiver's 'C' or NAK, then its blocks
  /// and EOT. No file is fatal error 17/6, more than one 17/kOneFileOnly.
  void SendFiles(const std::string& mask) override;
  /// Receives one file under ReceiveName in DefaultPath: asks the sender to start, takes
  /// its blocks and stores the file at its EOT. Fatal error 17/kNoReceiveName without a
  /// name; one the collision policy refuses, or that cannot be created, is 17/kFileFailure.
  void ReceiveFile();

 private:
  /// Where the session is.
  enum class TStep : std::uint8_t {
    kIdle,
    kSendStart,  ///< sending: waiting for 'C' or NAK
    kSendBlock,  ///< sending: waiting for the answer to the block sent
    kSendEot,    ///< sending: waiting for the answer to EOT
    kRecvStart,  ///< receiving: asked to start, no block yet
    kRecvBlock   ///< receiving: between or inside blocks
  };

  // Sending (sender.cpp).
  bool SenderByte(std::uint8_t ch) override;
  void SendNextBlock() override;
  void SenderTimedOut() override;
  void SenderDone();

  // Receiving (receiver.cpp).
  void TakeBlock() override;
  void TakeEot() override;
  void TakeBadBlock() override;
  void AskToStart();
  void ReceiverTimedOut() override;
  void WriteHeld();

  // The session (xmodem.cpp).
  void StartSession(TStep step, bool sending);

  bool block_1k_ = false;
  bool crc_ = true;
  bool strip_padding_ = false;
  std::string receive_name_;

  TStep step_ = TStep::kIdle;
  // Sending.
  std::vector<std::uint8_t> data_;  ///< file bytes read for the next block
  std::uint8_t send_number_ = 1;
  // Receiving.
  std::uint8_t expected_ = 1;       ///< the number of the next new block
  std::vector<std::uint8_t> held_;  ///< the last block taken, written when the next comes
  bool eot_seen_ = false;           ///< one EOT arrived and was NAKed to confirm it
  int start_tries_ = 0;             ///< asks to start sent
};

}  // namespace vxcomm
