// The writer of a terminal device. A write goes straight to the line while nothing waits
// ahead of it; what does not fit is copied into a queue that a thread of its own writes
// out in order. Each write ends by its own deadline, counted from its call (Len x the
// per-byte time-out plus the constant): one not yet begun is dropped whole, the one on the
// line is cut short. The writer also tells when the output has run empty, while asked to
// watch for that (EV_TXEMPTY in the event mask).
//
// Thread: every call is safe from any thread; Stop is called once, by the owner.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "vxcomm/platform/serialtypes.h"

namespace vxcomm {

class TvxTtyWriter {
 public:
  // Fd is the port's descriptor (non-blocking). Wake is called when the output ran empty
  // while watched, or when a write nobody waits for was lost; it must not call back here.
  TvxTtyWriter(int fd, std::function<void()> wake);
  ~TvxTtyWriter();
  TvxTtyWriter(const TvxTtyWriter&) = delete;
  TvxTtyWriter& operator=(const TvxTtyWriter&) = delete;

  // False when the writer's wake descriptor could not be made.
  bool Valid() const { return poke_ >= 0; }

  // Writes Len bytes (see above); with Wait, returns once they are out: 0, ETIMEDOUT when
  // the deadline cut them short, ECANCELED when a purge dropped them, or the write's errno.
  // Without Wait, returns 0 once the bytes are copied; a later loss shows in TakeErrors.
  int Write(const void* buffer, std::uint32_t len, bool wait, const TCOMMTIMEOUTS& timeouts);
  // Drops the queued writes and flushes the kernel's output queue.
  void Purge();
  // Bytes in the writer's queue (the kernel's own queue not counted).
  std::uint32_t QueuedBytes() const;
  // Watches, or stops watching, for the output to run empty.
  void WatchDrain(bool on);
  // True once for each time the output ran empty while watched.
  bool TakeDrained();
  // CE_TXFULL once a write nobody waited for was lost, with the errno of the first such loss
  // since the last call in LostError (when given); 0 otherwise.
  std::uint32_t TakeErrors(int* lostError = nullptr);
  // Ends the thread; queued writes fail with EBADF.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Result {
    bool done = false;
    int error = 0;
  };
  struct Segment {
    std::string data;
    std::size_t offset = 0;
    bool timed = false;
    Clock::time_point deadline;
    std::shared_ptr<Result> result;  // null for a write nobody waits for
  };

  void Loop();
  void FinishLocked(Segment& segment, int error);
  bool TransmitterEmpty() const;

  const int fd_;
  const std::function<void()> wake_;
  int poke_ = -1;  // eventfd that wakes the thread's poll

  mutable std::mutex mutex_;      // guards everything below
  std::condition_variable work_;  // the thread has work
  std::condition_variable done_;  // a waited-for write finished
  std::deque<Segment> queue_;
  std::size_t queued_bytes_ = 0;
  bool stopped_ = false;
  bool watch_drain_ = false;
  bool drain_pending_ = false;  // written since the output was last seen empty
  bool drained_ = false;        // ran empty, not yet taken
  bool lost_ = false;           // an unwaited write failed, not yet taken
  int lost_error_ = 0;          // the errno of the first such failure
  std::thread thread_;
};

}  // namespace vxcomm
