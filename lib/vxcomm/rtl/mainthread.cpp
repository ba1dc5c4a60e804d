#include "vxcomm/rtl/mainthread.h"

#include <QCoreApplication>
#include <deque>
#include <mutex>

namespace vxcomm {

namespace {
std::mutex queue_mutex;
std::deque<std::function<void()>> queue;  // guarded by queue_mutex

// Runs what was queued when it started: work posted meanwhile has its own wake-up, so a
// busy producer cannot keep the main thread in here.
void Drain() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(queue_mutex);
    batch.swap(queue);
  }
  for (auto& fn : batch) {
    try {
      fn();
    } catch (...) {
      // Nothing may leave the event loop; callers report their own failures.
    }
  }
}
}  // namespace

void vxPostToMainThread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    fn();
    return;
  }
  {
    std::lock_guard lock(queue_mutex);
    queue.push_back(std::move(fn));
  }
  QMetaObject::invokeMethod(app, &Drain, Qt::QueuedConnection);
}

}  // namespace vxcomm
