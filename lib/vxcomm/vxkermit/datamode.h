/// @file
/// How a session's D packets go: one at a time, a sliding window of them, or a stream. One
/// of the three is chosen when the Send-Init exchange is agreed (one at a time until then),
/// and both sides act through it: the sender's data phase (the D packets of a file, until
/// its Z goes), the receiver's packets in sequence, and the faults of the line.
///
/// Thread: none; the Kermit component's thread owns the mode and calls it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vxcomm {

class TvxKermit;

namespace vxkermit {

/// A session under one data mode. Each operation acts on the engine it was made for, on the
/// packet in its receive buffer.
class TDataMode {
 public:
  explicit TDataMode(TvxKermit& engine) : engine_(engine) {}
  virtual ~TDataMode() = default;
  TDataMode(const TDataMode&) = delete;
  TDataMode& operator=(const TDataMode&) = delete;

  /// The file's data may start (its header or attributes were acknowledged): sends what
  /// may go now.
  virtual void Fill() = 0;
  /// An acknowledgement arrived while data is in flight.
  virtual void OnAck() = 0;
  /// A NAK arrived while data is in flight (streaming: at any time after the agreement).
  virtual void OnNak() = 0;
  /// The wait for an answer ran out while data is in flight: repeats what is missing.
  virtual void OnTimeout() = 0;
  /// A damaged packet arrived while data is in flight, and damage is answered at once
  /// (AdaptiveTimeout): repeats what may have been lost.
  virtual void OnDamaged();
  /// This side ends the file while its data is in flight; Discard asks the receiver to
  /// delete what it holds.
  virtual void EndFile(bool discard);
  /// The shortest wait for an answer while data is in flight.
  virtual int ReplyFloorMs() const;
  /// The failures that lengthen the wait for an answer.
  virtual int Failures() const;

  /// Receiving: a verified packet of the session arrived.
  virtual void OnReceived(std::uint8_t type);
  /// Receiving: whether a D packet taken is acknowledged.
  virtual bool AcknowledgesData() const { return true; }
  /// A fault of the line (a damaged packet, a silence; Fault says which) arrived in a
  /// session: true when the mode ended the session on it, false when it is to be repaired.
  virtual bool EndsOnFault(const std::string& fault);
  /// Whether packets go without waiting for answers, so that the sender's output may queue
  /// and each wait for the peer is the whole time-out.
  virtual bool Streams() const { return false; }

 protected:
  TvxKermit& engine_;
};

/// The mode a session agreed: a stream, a Window of more than one packet, or one at a time
/// (Window 1, no stream: also the mode of a session not yet agreed).
std::unique_ptr<TDataMode> MakeDataMode(TvxKermit& engine, int window, bool stream);

}  // namespace vxkermit

}  // namespace vxcomm
