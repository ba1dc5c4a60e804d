// The two threads of an open serial port: the event thread waits on the port; with
// UseMainThread it has the main thread handle each event mask and waits for it, otherwise
// it posts the mask to the message thread, which takes them in order and handles them.
//
// Ownership: the component owns both objects and joins them when it closes, so neither
// ever outlives the state it reads. A delivery waiting for the main thread is released by
// Terminate, so a main thread that stops them never waits in a cycle.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "rtl/thread.h"
#include "vxcomm/commtypes.h"

class TvxCustomComm;

class TMsgThread : public TThread {
 public:
  explicit TMsgThread(TvxCustomComm* comm) : comm_(comm) {}
  ~TMsgThread() override { TThread::Stop(); }

  // Queues a message; a port event behind another not yet taken is merged into it (both
  // are masks of the same port), so the queue stays short however fast events come.
  void Post(const TvxCommMsg& msg);
  // Asks the thread to end and wakes it with "vxCommMsgQuitComEvent". Does not wait.
  void Stop();
  // Runs on the main thread: the component handles the message unless the thread was
  // told to end meanwhile.
  void HandleOnMain();

 protected:
  void Execute() override;

 private:
  bool Take(TvxCommMsg& msg);

  TvxCustomComm* const comm_;
  TvxCommMsg msg_;    // this thread, read by HandleOnMain while the thread waits for it
  std::mutex mutex_;  // guards queue_
  std::condition_variable posted_;
  std::deque<TvxCommMsg> queue_;
};

class TCommThread : public TThread {
 public:
  // PortHandle is the component's handle at creation; Target receives the events.
  TCommThread(TvxCustomComm* comm, THandle portHandle, TMsgThread* target)
      : comm_(comm), port_handle_(portHandle), target_(target) {}
  ~TCommThread() override { TThread::Stop(); }

  // Asks the thread to end and releases its event wait. Does not wait.
  void Stop();

 protected:
  void Execute() override;

 private:
  void DeviceFailed();

  TvxCustomComm* const comm_;
  const THandle port_handle_;
  TMsgThread* const target_;  // outlives this thread: the component stops this one first
};

// The port thread running on the calling thread, or null on any other thread.
TThread* vxCurrentPortThread();
