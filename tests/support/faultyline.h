// A faulty serial line: two pseudo-terminal pairs whose inner (master) ends are joined by
// a relay thread that damages bytes on their way and, when asked, gives them the timing of
// a serial line between USB adapters (support/linepacer.h). A program opens A(), another B(); what
// one writes reaches the other after the faults of its direction: a flipped bit, a dropped
// byte or a duplicated byte, each drawn per byte at its own rate from a seeded generator.
//
// Thread: the relay runs on a thread of its own from the constructor to Stop(); every
// member may be called from any thread. The fault pattern of a direction is fixed by the
// seed and the bytes that pass, so a run is repeatable only as far as the two programs
// send the same bytes (their time-outs make that a matter of timing).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "support/linepacer.h"

// Per-byte probabilities, each in [0, 1]; a byte that is dropped is neither flipped nor
// duplicated.
struct FaultRates {
  double flip = 0;
  double drop = 0;
  double duplicate = 0;

  // Rate split evenly between the three faults.
  static FaultRates Mixed(double total) { return {total / 3, total / 3, total / 3}; }
  static FaultRates Flips(double rate) { return {rate, 0, 0}; }
};

// What one direction has carried so far.
struct FaultCounts {
  std::uint64_t bytesIn = 0;   // read from the writing side
  std::uint64_t bytesOut = 0;  // handed to the reading side
  std::uint64_t flipped = 0;
  std::uint64_t dropped = 0;
  std::uint64_t duplicated = 0;
};

class FaultyLine {
 public:
  enum Direction { AToB = 0, BToA = 1 };
  enum End { EndA = 0, EndB = 1 };

  // Opens both pty pairs and starts the relay; the seed and rates go to standard error as
  // one line beginning "faultyline: seed". Throws std::runtime_error when a pty cannot be
  // made, a rate is outside [0, 1] or the thread cannot start.
  FaultyLine(const FaultRates& rates, std::uint64_t seed);
  FaultyLine(const FaultRates& aToB, const FaultRates& bToA, std::uint64_t seed,
             const LinePacing& pacing = {});
  // A line that also has the timing Pacing gives, in both directions (each with an adapter
  // of its own at the receiving end).
  FaultyLine(const FaultRates& rates, const LinePacing& pacing, std::uint64_t seed);
  // Stops the relay and closes every end.
  ~FaultyLine();
  FaultyLine(const FaultyLine&) = delete;
  FaultyLine& operator=(const FaultyLine&) = delete;

  // The device paths the two programs open (pty slaves, raw, kept open by the line itself
  // so a program's close is no hang-up and bytes written early wait for the reader).
  const std::string& A() const { return a_.slavePath; }
  const std::string& B() const { return b_.slavePath; }
  std::uint64_t Seed() const { return seed_; }

  // Once bytesIn has reached what the writer wrote, bytesIn - dropped + duplicated is what
  // the reader will get; bytesOut reaches it as the reader drains the line.
  FaultCounts Counts(Direction direction) const;
  // "A->B 123 bytes: 1 flipped, 0 dropped, 2 duplicated; B->A ..." for logs and reports.
  std::string Describe() const;

  // How often the program at End has discarded its unread input (tcflush or a flushing
  // tcsetattr), as the pty reports it. A program that flushes once as it sets up the line
  // is ready from then on: bytes sent before would have been lost, bytes sent after wait.
  int InputFlushes(End end) const;
  // Waits until InputFlushes(End) reaches Count or TimeoutMs passed; true when reached.
  bool WaitForInputFlush(End end, int count, int timeoutMs) const;

  // Ends the relay thread: bytes it holds are discarded and the slave ends stay open (a
  // reader sees silence, not a hang-up) until the destructor. Idempotent.
  void Stop();
  // True while the relay runs; false after Stop or when it met an error it cannot go on
  // from (Error() then says which).
  bool Running() const { return running_.load(); }
  std::string Error() const;

  // VXCOMM_FAULT_SEED when set (to repeat a run), otherwise a fresh random seed.
  static std::uint64_t SeedFromEnvironment();

 private:
  struct Pty {
    int master = -1;
    int slaveKeeper = -1;
    std::string slavePath;
  };
  struct Counters {
    std::atomic<std::uint64_t> bytesIn{0}, bytesOut{0}, flipped{0}, dropped{0}, duplicated{0};
  };

  static Pty OpenPty();
  static void ClosePty(Pty& pty);
  void Run();

  Pty a_, b_;
  FaultRates rates_[2];
  LinePacing pacing_;
  std::uint64_t seed_;
  Counters counts_[2];
  int wake_ = -1;  // eventfd: Stop wakes the relay's poll
  mutable std::mutex flush_mutex_;
  mutable std::condition_variable flushed_;
  int flushes_[2] = {0, 0};  // by End, under flush_mutex_
  std::atomic<bool> running_{false};
  std::atomic<bool> failed_{false};
  std::string error_;  // written by the relay before failed_ is set
  std::thread thread_;
};
