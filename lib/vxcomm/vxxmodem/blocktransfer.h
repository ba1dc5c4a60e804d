/// @file
/// The session machinery of the block protocols (XMODEM, YMODEM) on the file-transfer base:
/// how received bytes and timer ticks reach the protocol's sender or receiver, the peer's
/// CAN CAN, the purge after a damaged block, and a session's end, abort and skip.
///
/// Thread: no lock. Every member is owned by the thread that delivers received data and
/// timer ticks to the processor chain; the protocols built on it say the same.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <QElapsedTimer>
#include <cstdint>
#include <string>
#include <vector>

#include "vxcomm/vxftbase.h"
#include "vxcomm/vxxmodem/block.h"

namespace vxcomm {

/// The base of TvxXModem and TvxYModem (see the file description). A session runs from
/// StartBlockSession to EndSession, an abort or the peer's CAN CAN; while it runs, the
/// peer's bytes go to SenderByte (sending) or ReceiverByte (receiving) and do not reach the
/// next processor as handled, and the reply time-out goes to SenderTimedOut or
/// ReceiverTimedOut. An abort tells the peer with CAN; a received file that does not
/// complete is removed: these protocols cannot resume one.
class VXCOMM_EXPORT TvxBlockTransfer : public TvxCustomFileTransfer {
 public:
  /// Fatal error 17 detail: a file that cannot be opened, created, read or written.
  static constexpr Cardinal kFileFailure = 9;
  /// Fatal error 17 detail: the peer broke the protocol (a block out of sequence).
  static constexpr Cardinal kProtocolViolation = 10;

  /// Blocks sent again (sending) or received again (receiving) in the running or last session.
  int Repeats() const { return repeats_; }

  /// Tells a running session's peer with CAN CAN, then ends the session; a partly received
  /// file is removed.
  void AbortTransfer(const std::string& reason) override;
  /// One file cannot be skipped and the session go on: a running session ends, the file
  /// skipped.
  void SkipFile(bool skipAll, bool deleteFile) override;
  /// Takes the peer's bytes while a session runs, then passes the block on.
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override;
  /// The reply time-out (or, after a damaged block, the line's silence) ran out.
  void DoTimer(TObject* sender) override;
  /// The medium opened or closed: a running session is aborted.
  void ResetPackets() override;

 protected:
  /// An idle component owned by Owner for Protocol (its name in messages), with a Timeout of
  /// 10000 ms, a RetryLimit of 10 and no ErrorLimit to speak of (the largest int), logging
  /// under LogPrefix.
  TvxBlockTransfer(QObject* owner, const std::string& protocol, const std::string& logPrefix);

  /// Sending: one byte from the receiver, CAN aside. True when Ch was the answer acted on
  /// and the rest of its chunk, sent before the receiver saw what this side sent now, is
  /// noise (a duplicated ACK must not pass for the next one).
  virtual bool SenderByte(std::uint8_t ch) = 0;
  /// Receiving: a whole block with a sound number and check is in reader_.
  virtual void TakeBlock() = 0;
  /// Receiving: an EOT outside a block.
  virtual void TakeEot() = 0;
  /// Receiving: a whole block whose number or check is damaged.
  virtual void TakeBadBlock() = 0;
  /// Sending: frames the next block of the file (or EOT) as frame_ and sends it.
  virtual void SendNextBlock() = 0;
  /// Sending: the reply time-out ran out.
  virtual void SenderTimedOut() = 0;
  /// Receiving: the reply time-out ran out, or the purge ended (EndPurge says which).
  virtual void ReceiverTimedOut() = 0;

  /// Opens a session (Sending, with Listed files): the reader, the repeats and the error
  /// and retry counts start anew, State becomes fsSend or fsReceive.
  void StartBlockSession(bool sending, int listed);
  /// Ends the running session as reaching its protocol end.
  void EndSession();
  /// The peer cancelled: the session ends as aborted, no CAN goes back.
  void PeerCancelled();
  /// Fatal error 17/kFileFailure with What.
  void FileFailure(const std::string& what);
  /// Sending: sends frame_ and waits Timeout for the answer.
  void SendCurrent();
  /// Sending: the receiver asked for frame_ again (NAK); sent again while within ErrorLimit.
  void RepeatCurrent();
  /// Sending: Ch answers the data block in frame_: ACK goes on to the next block, NAK sends
  /// this one again. False for any other byte (noise).
  bool TakeBlockAnswer(std::uint8_t ch);
  /// Sending: Ch answers the EOT in frame_, and is not its ACK: a NAK sends EOT again (see
  /// EotRefused). False for any other byte (noise).
  bool TakeEotNak(std::uint8_t ch);
  /// Sending: frame_ becomes EOT, not yet refused.
  void FrameEot();
  /// Sending: the receiver NAKed the EOT: the first NAK is expected of it (it makes sure of
  /// the EOT), later ones are errors. EOT goes again while within ErrorLimit.
  void EotRefused();
  /// Starts the timer for Ms milliseconds (at least 1).
  void Arm(int ms);
  /// Sends Ch to the peer and waits Timeout for its reply.
  void Answer(std::uint8_t ch);
  /// Receiving: a damaged block; what follows is its rest until the line falls silent.
  void Purge();
  /// Receiving, in ReceiverTimedOut: true when the timer ended a purge (which ends now).
  bool EndPurge();

  vxxmodem::TBlockReader reader_;
  int repeats_ = 0;
  std::vector<std::uint8_t> frame_;  ///< sending: the block (or EOT) waiting for its answer

 private:
  void SendCancel();
  void ReceiverByte(std::uint8_t ch);
  void ExtendPurge();

  std::string protocol_;
  bool running_ = false;
  bool can_ = false;           ///< sending: the last byte from the receiver was a CAN
  bool eot_refused_ = false;   ///< sending: the receiver NAKed the EOT once
  bool purging_ = false;       ///< receiving: waiting for the line to fall silent
  QElapsedTimer purge_clock_;  ///< since the damaged block that started the purge
};

}  // namespace vxcomm
