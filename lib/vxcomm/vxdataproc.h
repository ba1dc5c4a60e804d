/// @file
/// Unit vxdataproc: the packet detector. It cuts the received byte stream into packets
/// described by a collection of definitions (markers, fixed or announced lengths, silence).
///
/// Thread: no lock. Detection state, the definitions and every event run on the thread that
/// delivers received data and timer ticks to the processor (the main thread in the demo);
/// the application must configure the definitions from that thread too.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vxcomm/rtl/collection.h"
#include "vxcomm/vxclasses.h"

namespace vxcomm {

class TvxDataPacket;
class TvxDataPackets;
class TvxDataProtocol;

/// (Packet, chData, IsHandled): decides the length while a packet arrives; set the
/// packet's PacketLength (the whole length, begin marker included) and IsHandled True.
using TvxDataPacketLengthEvent =
    std::function<void(TvxDataPacket* packet, std::uint8_t chData, bool& isHandled)>;
/// (Sender, Packet): a packet was detected; Packet's Data and DataSize hold it.
using TvxDataPacketEvent = std::function<void(TObject* sender, TvxDataPacket* packet)>;

/// The detection phase of one packet definition.
enum class TvxPacketPhase : std::uint8_t {
  Idle = 0,         ///< nothing to detect; a new definition stays here until its first reset
  WaitBegin = 1,    ///< matching PacketBegin; bytes are not stored
  WaitLength = 2,   ///< collecting until DataSize reaches PacketLength
  WaitEnd = 3,      ///< collecting until PacketEnd has been seen
  WaitTimeout = 4,  ///< collecting until the line falls silent
};

/// One kind of packet. The buffer is allocated once, zero-filled, at construction.
class VXCOMM_EXPORT TvxDataPacket : public TCollectionItem {
 public:
  /// The buffer size of a definition made without one.
  static constexpr int DefaultBufferSize = 16384;
  /// The smallest buffer of a definition.
  static constexpr int MinBufferSize = 512;

  /// Creates a definition in Collection, which owns it. A size below MinBufferSize is raised to it.
  explicit TvxDataPacket(TvxDataPackets* collection, int bufferSize = DefaultBufferSize);

  /// Only active definitions detect packets.
  bool Active() const { return active_; }
  /// Sets Active.
  void SetActive(bool value) { active_ = value; }
  /// When this definition completes a packet, every other definition is reset.
  bool ResetOthers() const { return reset_others_; }
  /// Sets ResetOthers.
  void SetResetOthers(bool value) { reset_others_ = value; }
  /// The name shown for the definition (see DisplayName).
  const std::string& Caption() const { return caption_; }
  /// Sets the caption.
  void SetCaption(const std::string& value) { caption_ = value; }
  /// The begin marker; empty: a packet starts anywhere. Markers take effect from the next reset; a
  /// detection in progress keeps the old ones.
  const std::string& PacketBegin() const { return packet_begin_; }
  /// Sets the begin marker (from the next reset).
  void SetPacketBegin(const std::string& value) { packet_begin_ = value; }
  /// The end marker; empty: the packet ends by length or silence.
  const std::string& PacketEnd() const { return packet_end_; }
  /// Sets the end marker (from the next reset).
  void SetPacketEnd(const std::string& value) { packet_end_ = value; }
  /// Whole packet length, begin marker included; 0 or less means no fixed length.
  int PacketLength() const { return packet_length_; }
  /// Sets the whole packet length.
  void SetPacketLength(int value) { packet_length_ = value; }
  /// A one-byte begin marker inside a packet starts a new packet there: what was collected is
  /// dropped, so a packet cut short never swallows the one after it. Off by default.
  bool RestartOnBegin() const { return restart_on_begin_; }
  /// Sets RestartOnBegin.
  void SetRestartOnBegin(bool value) { restart_on_begin_ = value; }
  /// Bytes that never occur inside a packet after its begin marker: one of them ends the
  /// packet where it stands (it is the last byte collected), so that the handler sees a
  /// packet shorter than announced at once instead of waiting for bytes that will not come.
  const std::string& BodyBreaks() const { return body_breaks_text_; }
  /// Sets the body breaks (each byte of Value is one).
  void SetBodyBreaks(const std::string& value);
  /// The line's silence (the protocol's timer) ends a packet of this definition.
  bool PacketEndByTimeout() const { return packet_end_by_timeout_; }
  /// Sets PacketEndByTimeout.
  void SetPacketEndByTimeout(bool value) { packet_end_by_timeout_ = value; }
  /// Asked for the length while a packet arrives; must not add or delete definitions of the
  /// collection.
  TvxDataPacketLengthEvent OnPacketLength;
  /// A number free for the application.
  int Tag() const { return tag_; }
  /// Sets Tag.
  void SetTag(int value) { tag_ = value; }

  /// The collected packet, markers included; valid while DoPacket runs.
  const std::uint8_t* Data() const { return data_.get(); }
  /// The number of bytes collected.
  int DataSize() const { return data_size_; }
  /// The size of the buffer: the longest packet the definition collects.
  int BufferSize() const { return buffer_size_; }
  /// The detection phase.
  TvxPacketPhase Phase() const { return phase_; }
  /// The matcher of the markers.
  const TCommEventNew& Matcher() const { return matcher_; }

  /// "TvxDataPacket".
  std::string ClassName() const override { return "TvxDataPacket"; }
  /// Caption when it is not blank, otherwise the class name.
  std::string DisplayName() const override;
  /// From another definition: Active, ResetOthers, Caption and both markers, PacketLength,
  /// RestartOnBegin and BodyBreaks.
  void Assign(const TPersistent& source) override;

  /// Starts detection again (a detection step, driven by the collection): drops what was collected
  /// and takes the markers as now set.
  void Reset();
  /// Offers one byte; True when it completes the packet.
  bool AddByte(std::uint8_t ch);
  /// A definition without a begin marker keeps only the last PacketLength bytes.
  void TrimToLength();
  /// How many coming bytes, none of them in Stops, this definition would only store or
  /// ignore; adds to Stops (and StopList) the byte that would move its marker matcher. 0
  /// when the next byte needs the full step.
  std::size_t InertRoom(std::array<bool, 256>& stops, std::vector<std::uint8_t>& stopList) const;
  /// Takes Count such bytes at once.
  void AddInert(const std::uint8_t* data, std::size_t count);
  /// True when a packet is part-way collected or a marker part-way matched.
  bool IsStarted() const { return data_size_ > 0 || matcher_.InProgress(); }
  /// True when the line's silence ends a packet with at least one byte.
  bool EndByTimeout();

 private:
  TvxPacketPhase BeginBody();
  /// True in the phases that collect a packet's body after a begin marker.
  bool InBody() const {
    return !packet_begin_.empty() &&
           (phase_ == TvxPacketPhase::WaitLength || phase_ == TvxPacketPhase::WaitEnd);
  }
  /// Starts the packet again with its one-byte begin marker as the only byte collected.
  void RestartAtBegin();

  std::string caption_;
  std::string packet_begin_;
  std::string packet_end_;
  int packet_length_ = 0;
  bool active_ = true;
  bool reset_others_ = false;
  TCommEventNew matcher_;
  TvxPacketPhase phase_ = TvxPacketPhase::Idle;
  int buffer_size_;
  std::unique_ptr<std::uint8_t[]> data_;
  int data_size_ = 0;
  bool packet_end_by_timeout_ = false;
  bool restart_on_begin_ = false;
  std::string body_breaks_text_;
  std::array<bool, 256> body_breaks_{};
  /// OnPacketLength is still to be asked for the current packet.
  bool length_pending_ = false;
  int tag_ = 0;
};

/// The packet definitions of a protocol, in detection order; owns them.
class VXCOMM_EXPORT TvxDataPackets : public TCollection {
 public:
  /// An empty collection of Owner (not owned).
  explicit TvxDataPackets(TvxDataProtocol* owner) : owner_(owner) {}

  /// Appends a definition with a buffer of BufferSize bytes; owned by the collection.
  TvxDataPacket* Add(int bufferSize = TvxDataPacket::DefaultBufferSize);
  /// The definition at Index, owned by the collection. Throws Exception for an index outside
  /// 0..Count-1.
  TvxDataPacket* Items(int index) const { return static_cast<TvxDataPacket*>(Item(index)); }
  /// The protocol the collection belongs to.
  QObject* Owner() const override;
  /// Some definition was part-way through a packet at the last byte.
  bool Pending() const { return pending_; }

  /// Offers Ch to the definitions in order; the index of the one it completes, or -1.
  int DetectByte(std::uint8_t ch);
  /// Examines the next bytes of Data, as DetectByte would one by one: a run of bytes that
  /// only need storing (or ignoring) by every definition at once, or else the first byte
  /// alone. Consumed tells how many were examined; the result is as DetectByte's.
  int DetectNext(const std::uint8_t* data, std::size_t len, std::size_t& consumed);
  /// Resets every definition.
  void ResetAll();
  /// Resets every definition but the one at Index.
  void ResetAllExcept(int index);
  /// The first definition whose packet ends by silence, or -1.
  int CheckTimeouts();

 private:
  TvxDataPacket* At(int index) const {
    return static_cast<TvxDataPacket*>(ItemAt(static_cast<std::size_t>(index)));
  }

  TvxDataProtocol* owner_;
  bool pending_ = false;
  /// DetectNext's table of bytes that need the full step; all false between calls.
  std::array<bool, 256> stops_{};
  std::vector<std::uint8_t> stop_list_;
};

/// The packet detector component: a data processor that cuts received blocks into packets by its
/// definitions and reports each through OnDataPacket, or the line's silence through OnTimeout.
///
/// Thread: no lock; configure it, and receive OnDataPacket and OnTimeout, on the thread that
/// delivers received data and timer ticks to it (the port's delivering thread; the main thread
/// with UseMainThread). Failures: fatal errors through RaiseFatalError (Exception unless
/// OnFatalError cancels it).
class VXCOMM_EXPORT TvxDataProtocol : public TvxCustomDataProcessor {
  Q_OBJECT

 public:
  /// Creates an inactive detector without definitions, owned by Owner.
  explicit TvxDataProtocol(QObject* owner = nullptr);
  /// Destroys the detector and its definitions.
  ~TvxDataProtocol() override;

  /// The packet definitions; owned by the detector.
  TvxDataPackets& Packets() { return packets_; }
  /// The packet definitions.
  const TvxDataPackets& Packets() const { return packets_; }
  /// Silence in ms after the last received block until the timer fires; 0 or less: never.
  int Timeout() const { return timeout_; }
  /// Sets Timeout; used from the next received block.
  void SetTimeout(int value) { timeout_ = value; }
  /// The silence after a received block that fires the timer: Timeout, unless a protocol
  /// adapts it to the line.
  virtual int SilenceTimeout() const { return timeout_; }
  /// While True, every examined block is reported Handled (not echoed to the terminal).
  bool ConsumeData() const { return consume_data_; }
  /// Sets ConsumeData; cleared again when the medium opens or closes.
  void SetConsumeData(bool value) { consume_data_ = value; }

  /// Called for every detected packet, on the delivering thread (see DoPacket).
  TvxDataPacketEvent OnDataPacket;
  /// Called when the line fell silent for Timeout ms and no packet ended by it (see DoTimeout).
  TNotifyEvent OnTimeout;

  /// Clears ConsumeData and resets the definitions.
  void DoMediumClosed() override;
  /// Clears ConsumeData and resets the definitions.
  void DoMediumOpened() override;
  /// The silence timer fired: delivers a packet ended by silence, or calls DoTimeout.
  void DoTimer(TObject* sender) override;
  /// While Active, runs Block through the definitions, delivering every packet completed, and arms
  /// the silence timer; then passes the block on to the next processor. Sets Handled under
  /// ConsumeData.
  void DoDataReceived(const void* buffer, Cardinal len, bool& handled) override;

  /// A packet of definition Index was detected: logs it and calls OnDataPacket; an
  /// Exception of the handler becomes fatal error 15/1.
  virtual void DoPacket(int index);
  /// The timer fired and no packet ended by silence: calls OnTimeout (exceptions as DoPacket).
  virtual void DoTimeout();
  /// Offers one byte outside a received block; the completed definition's index or -1.
  /// Does not touch the timer.
  virtual int ProcessByte(std::uint8_t ch);
  /// Resets every definition.
  virtual void ResetPackets();
  /// Some definition was part-way through a packet at the last byte.
  virtual bool PacketPending();

 private:
  /// Runs DoPacket and resets the definition even when DoPacket throws, so a later caller
  /// never sees a completed definition collecting on.
  void DeliverPacket(int index);

  TvxDataPackets packets_;
  int timeout_ = 0;
  bool consume_data_ = false;
};

}  // namespace vxcomm
