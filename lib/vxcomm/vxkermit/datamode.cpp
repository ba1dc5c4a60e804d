// The three data modes of a Kermit session: each D packet waits for its acknowledgement,
// a window keeps several in flight and repeats only what the receiver misses, a stream
// waits for nothing and ends the session on any fault.
#include "vxcomm/vxkermit/datamode.h"

#include <string>

#include "vxcomm/vxkermit.h"

namespace vxcomm {

namespace vxkermit {

class TOneAtATime final : public TDataMode {
 public:
  using TDataMode::TDataMode;
  void Fill() override { engine_.SendFileData(); }
  void OnAck() override { engine_.AnswerAck(); }
  void OnNak() override { engine_.AnswerNak(); }
  void OnTimeout() override { engine_.RepeatLastPacket(); }
};

class TWindowMode final : public TDataMode {
 public:
  using TDataMode::TDataMode;
  void Fill() override { engine_.FillWindow(); }
  void OnAck() override { engine_.WindowAck(); }
  void OnNak() override { engine_.WindowNak(); }
  void OnTimeout() override { engine_.RepeatOldest(); }
  // A NAK or a time-out asks for the packet that is missing; the damaged packet may have
  // been the answer to any of those in flight.
  void OnDamaged() override {}
  void EndFile(bool discard) override { engine_.EndWindowedFile(discard); }
  // A time-out that comes too early costs one repeated packet, while one that comes late
  // stalls every packet in flight: the floor is lower.
  int ReplyFloorMs() const override { return TvxKermit::MinWindowReplyTimeoutMs; }
  // The failures of the window's oldest packet, not those of the whole window.
  int Failures() const override { return engine_.send_window_.OldestRepeats(); }
  void OnReceived(std::uint8_t type) override { engine_.DispatchWindowed(type); }
};

class TStreamMode final : public TDataMode {
 public:
  using TDataMode::TDataMode;
  void Fill() override { engine_.StreamData(); }
  // A streamed D is not waited for: the stream's turns send the next ones.
  void OnAck() override {}
  void OnNak() override {
    engine_.StreamingFailure("the peer refused packet " + std::to_string(engine_.RecvSeq()));
  }
  // A streaming session ends on silence before any repeat; kept for a caller that repeats.
  void OnTimeout() override { engine_.RepeatLastPacket(); }
  void OnReceived(std::uint8_t type) override {
    // Nothing is repeated on a streaming link: a repeat or a gap means lost data.
    const std::uint8_t seq = engine_.RecvSeq();
    const std::uint8_t last = engine_.LastRecvSeq();
    if (seq == last && type == 'D')
      return engine_.StreamingFailure("packet " + std::to_string(seq) + " came twice");
    if (seq != last && seq != engine_.ExpectedSeq())
      return engine_.StreamingFailure("packet " + std::to_string(seq) + " instead of " +
                                      std::to_string(engine_.ExpectedSeq()));
    engine_.ReceiveInTurn(type);
  }
  // Streamed data is not acknowledged: the silence time-out starts again instead.
  bool AcknowledgesData() const override { return false; }
  bool EndsOnFault(const std::string& fault) override {
    engine_.StreamingFailure(fault);
    return true;
  }
  bool Streams() const override { return true; }
};

void TDataMode::OnDamaged() {
  engine_.RepeatLastPacket();
}

void TDataMode::EndFile(bool discard) {
  engine_.SendEOF(discard);
}

int TDataMode::ReplyFloorMs() const {
  return TvxKermit::MinReplyTimeoutMs;
}

int TDataMode::Failures() const {
  return engine_.RetryCount();
}

void TDataMode::OnReceived(std::uint8_t type) {
  engine_.ReceiveInTurn(type);
}

bool TDataMode::EndsOnFault(const std::string&) {
  return false;
}

std::unique_ptr<TDataMode> MakeDataMode(TvxKermit& engine, int window, bool stream) {
  if (stream) return std::make_unique<TStreamMode>(engine);
  if (window > 1) return std::make_unique<TWindowMode>(engine);
  return std::make_unique<TOneAtATime>(engine);
}

}  // namespace vxkermit

}  // namespace vxcomm
