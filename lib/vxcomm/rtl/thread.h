/// @file
/// The thread class: a body run on a thread of its own, a terminate request, and a call
/// that runs a function on the main thread and waits for it.
///
/// Ownership: the creator owns the TThread object and must Terminate and WaitFor it (the
/// destructor does both) before anything the body reads is freed.
#pragma once

#include "vxcomm/vxcomm_export.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vxcomm {

/// The priority of a thread, from idle to time-critical.
enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};
using enum TThreadPriority;

/// A body (Execute) run on a thread of its own (see the file description).
class VXCOMM_EXPORT TThread {
 public:
  /// A thread not yet started.
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  /// Terminates and waits; a derived class whose body reads its own members must call
  /// Stop() in its own destructor.
  virtual ~TThread();

  /// Starts the body on a new thread; nothing when it is running already.
  void Start();
  /// Asks the body to end and releases a pending Synchronize at once.
  void Terminate();
  /// True once Terminate was called; the body checks it and returns soon after.
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  /// Waits until the body has returned. Must not be called from the thread itself.
  void WaitFor();
  /// Terminate then WaitFor.
  void Stop();
  /// True from Start until the thread is joined.
  bool Running() const { return thread_.joinable(); }
  /// True when called from this thread's own body.
  bool IsCurrent() const { return Current() == this; }
  /// The TThread whose body is running on the calling thread, or null.
  static TThread* Current();
  /// Sets the priority; given to the thread when it starts.
  void SetPriority(TThreadPriority priority) { priority_ = priority; }
  /// The priority the thread starts with.
  TThreadPriority Priority() const { return priority_; }

  /// Runs Fn on the main thread and waits until it has run. Returns false, with Fn not run
  /// or still running on the main thread, when the thread is told to terminate meanwhile:
  /// so a main thread that stops this thread never waits for a thread that waits for it.
  /// Called on the main thread (or without an application object) Fn runs at once.
  bool Synchronize(const std::function<void()>& fn);

  /// True on the application's main thread (or on any thread without an application object).
  static bool IsMainThread();

 protected:
  /// The body; runs on the thread and must return soon after Terminated. An exception that
  /// leaves it ends the thread and nothing else.
  virtual void Execute() = 0;

 private:
  struct SyncCall;
  void Run();

  std::thread thread_;
  std::atomic<bool> terminated_{false};
  TThreadPriority priority_ = tpNormal;
  std::mutex mutex_;  ///< guards pending_
  std::shared_ptr<SyncCall> pending_;
};

}  // namespace vxcomm
