// The three data modes of a Kermit sender: each D packet waits for its acknowledgement,
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

std::unique_ptr<TDataMode> MakeDataMode(TvxKermit& engine, int window, bool stream) {
  if (stream) return std::make_unique<TStreamMode>(engine);
  if (window > 1) return std::make_unique<TWindowMode>(engine);
  return std::make_unique<TOneAtATime>(engine);
}

}  // namespace vxkermit

}  // namespace vxcomm
