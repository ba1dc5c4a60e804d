#include "vxcomm/commthreads.h"

#include <QCoreApplication>
#include <cerrno>
#include <map>

#include "platform/serialport.h"
#include "vxcomm.h"

namespace {
thread_local TThread* current_port_thread = nullptr;

// Message numbers registered by name, as the system registers window messages.
Cardinal RegisterMessage(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, Cardinal> numbers;
  std::lock_guard lock(mutex);
  auto it = numbers.find(name);
  if (it != numbers.end()) return it->second;
  Cardinal number = 0xC000u + static_cast<Cardinal>(numbers.size());
  numbers.emplace(name, number);
  return number;
}
}  // namespace

Cardinal vxCommMsgComEvent() {
  static const Cardinal number = RegisterMessage("vxCommMsgComEvent");
  return number;
}

Cardinal vxCommMsgQuitComEvent() {
  static const Cardinal number = RegisterMessage("vxCommMsgQuitComEvent");
  return number;
}

TThread* vxCurrentPortThread() {
  return current_port_thread;
}

void TMsgThread::Post(const TvxCommMsg& msg) {
  {
    std::lock_guard lock(mutex_);
    if (msg.Message == vxCommMsgComEvent() && !queue_.empty() &&
        queue_.back().Message == vxCommMsgComEvent())
      queue_.back().WParam |= msg.WParam;
    else
      queue_.push_back(msg);
  }
  posted_.notify_one();
}

void TMsgThread::Stop() {
  Terminate();
  Post({vxCommMsgQuitComEvent(), 0, 0});
}

bool TMsgThread::Take(TvxCommMsg& msg) {
  std::unique_lock lock(mutex_);
  posted_.wait(lock, [&] { return !queue_.empty() || Terminated(); });
  if (queue_.empty()) return false;
  msg = queue_.front();
  queue_.pop_front();
  return true;
}

void TMsgThread::HandleOnMain() {
  if (Terminated()) return;
  // A handler may close the port, which joins and frees this thread object: nothing of
  // it is touched once the component has the message.
  TvxCommMsg msg = msg_;
  TvxCustomComm* comm = comm_;
  comm->ProcessCommEvent(msg);
}

void TMsgThread::Execute() {
  current_port_thread = this;
  if (!comm_) return;
  for (;;) {
    if (Terminated()) break;
    TvxCommMsg msg;
    if (!Take(msg)) break;
    // The component stops this thread before its port closes, so the terminate request
    // also stands for a port that is no longer active.
    if (Terminated() || msg.Message == vxCommMsgQuitComEvent()) break;
    if (msg.Message != vxCommMsgComEvent()) continue;
    if (QCoreApplication::instance() && comm_->UseMainThread()) {
      msg_ = msg;
      Synchronize([this] { HandleOnMain(); });
    } else {
      comm_->ProcessCommEvent(msg);
    }
  }
}

void TCommThread::Stop() {
  Terminate();
  vxReleaseCommWait(port_handle_);
}

void TCommThread::DeviceFailed() {
  // The close runs where the component lives: on the main thread when there is one, so
  // that OnClose and the notify handlers never meet the main thread's own calls.
  auto close = [this] {
    if (!Terminated()) comm_->InternalClose(false);
  };
  if (QCoreApplication::instance())
    Synchronize(close);
  else
    close();
}

void TCommThread::Execute() {
  current_port_thread = this;
  if (port_handle_ == INVALID_HANDLE_VALUE) return;
  do {
    std::uint32_t mask = 0;
    if (!vxWaitCommEvent(port_handle_, mask)) {
      int error = vxSerialLastError();
      if (Terminated() || error == EBADF) break;  // closed under the thread
      if (error == EINVAL && mask == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      DeviceFailed();
      break;
    }
    if (Terminated()) break;
    if (!mask) continue;
    const TvxCommMsg msg{vxCommMsgComEvent(), mask, 0};
    if (QCoreApplication::instance() && comm_->UseMainThread()) {
      // Delivery on the main thread goes straight from here: the hop through the message
      // thread would cost one more wake-up per event. Events that come while the main
      // thread works are found by the next wait.
      TvxCustomComm* comm = comm_;
      Synchronize([this, comm, msg] {
        if (!Terminated()) comm->ProcessCommEvent(msg);
      });
    } else {
      target_->Post(msg);
    }
  } while (!Terminated());
}
