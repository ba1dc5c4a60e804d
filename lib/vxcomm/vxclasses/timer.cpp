#include "vxcomm/vxclasses/timer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include "vxcomm/rtl/mainthread.h"

namespace vxcomm {

TvxTimer::TvxTimer() : timer_(std::make_unique<QTimer>()) {
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Tick(); });
}

TvxTimer::~TvxTimer() {
  enabled_ = false;
  if (QThread::currentThread() == timer_->thread()) timer_->stop();
}

void TvxTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TvxTimer::SetOnTimer(TNotifyEvent value) {
  on_timer_ = std::move(value);
  UpdateTimer();
}

void TvxTimer::UpdateTimer() {
  bool run = interval_ != 0 && enabled_ && on_timer_;
  int interval = static_cast<int>(std::min<Cardinal>(interval_, INT32_MAX));
  QTimer* timer = timer_.get();
  auto apply = [timer, run, interval] {
    timer->stop();
    if (run) timer->start(interval);
  };
  // A Qt timer may only be started and stopped on its own thread.
  if (QThread::currentThread() == timer->thread()) {
    apply();
  } else if (QCoreApplication::instance() &&
             timer->thread() == QCoreApplication::instance()->thread()) {
    QPointer<QTimer> guard(timer);
    vxPostToMainThread([guard, run, interval] {
      if (!guard) return;
      guard->stop();
      if (run) guard->start(interval);
    });
  } else {
    QMetaObject::invokeMethod(timer, apply, Qt::QueuedConnection);
  }
}

void TvxTimer::Tick() {
  try {
    Timer();
  } catch (...) {
    // A handler's exception must not leave the event loop.
  }
}

void TvxTimer::Timer() {
  if (enabled_ && on_timer_) on_timer_(this);
}

}  // namespace vxcomm
