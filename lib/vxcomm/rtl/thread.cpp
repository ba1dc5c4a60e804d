#include "vxcomm/rtl/thread.h"

#include <QCoreApplication>
#include <QThread>

#include "vxcomm/rtl/mainthread.h"

namespace vxcomm {

struct TThread::SyncCall {
  enum class State { Pending, Running, Done, Cancelled };
  std::function<void()> fn;
  std::mutex mutex;
  std::condition_variable done;
  State state = State::Pending;
};

namespace {
// Set for the life of each body, so a thread can tell itself apart without reading the
// std::thread member that its creator may still be writing.
thread_local TThread* current_thread = nullptr;
}  // namespace

TThread::TThread() = default;

TThread* TThread::Current() {
  return current_thread;
}

TThread::~TThread() {
  Stop();
}

void TThread::Start() {
  if (thread_.joinable()) return;
  terminated_.store(false, std::memory_order_release);
  thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
  current_thread = this;
  try {
    Execute();
  } catch (...) {
    // An exception that leaves the body ends the thread and nothing else.
  }
}

void TThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  std::shared_ptr<SyncCall> call;
  {
    std::lock_guard lock(mutex_);
    call = pending_;
  }
  if (!call) return;
  std::lock_guard lock(call->mutex);
  if (call->state == SyncCall::State::Pending) call->state = SyncCall::State::Cancelled;
  call->done.notify_all();
}

void TThread::WaitFor() {
  if (thread_.joinable() && !IsCurrent()) thread_.join();
}

void TThread::Stop() {
  Terminate();
  WaitFor();
}

bool TThread::IsMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

bool TThread::Synchronize(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  if (Terminated()) return false;
  auto call = std::make_shared<SyncCall>();
  call->fn = fn;
  {
    std::lock_guard lock(mutex_);
    pending_ = call;
  }
  vxPostToMainThread([call] {
    {
      std::lock_guard lock(call->mutex);
      if (call->state != SyncCall::State::Pending) return;
      call->state = SyncCall::State::Running;
    }
    try {
      call->fn();
    } catch (...) {
      // The caller's own guard reports what it must; nothing may leave the event loop.
    }
    std::lock_guard lock(call->mutex);
    call->state = SyncCall::State::Done;
    call->done.notify_all();
  });
  bool ran;
  {
    std::unique_lock lock(call->mutex);
    call->done.wait(lock, [&] { return call->state == SyncCall::State::Done || Terminated(); });
    ran = call->state == SyncCall::State::Done;
    if (call->state == SyncCall::State::Pending) call->state = SyncCall::State::Cancelled;
  }
  std::lock_guard lock(mutex_);
  pending_.reset();
  return ran;
}

}  // namespace vxcomm
