#include "rtl/mainthread.h"

#include <QCoreApplication>
#include <deque>
#include <mutex>

namespace {
std::mutex queue_mutex;
std::deque<std::function<void()>> queue;  // guarded by queue_mutex

void Drain() {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard lock(queue_mutex);
      if (queue.empty()) return;
      fn = std::move(queue.front());
      queue.pop_front();
    }
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
