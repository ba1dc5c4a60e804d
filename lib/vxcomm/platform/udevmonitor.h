// Hot-plug notices for serial ports from udev's monitor (loaded at run time, see udevlib.h).
//
// Listens to the events udev has processed when its daemon runs, otherwise to the kernel's
// own, so that device nodes are there when the notice comes. Without libudev the monitor is
// simply inactive. Thread: created on, and reports on, a thread with a Qt event loop (the
// main thread); its socket notifier belongs to that thread.
#pragma once

#include <QObject>
#include <functional>
#include <string>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace vxcomm {

class TvxUdevMonitor : public QObject {
  Q_OBJECT

 public:
  explicit TvxUdevMonitor(QObject* parent = nullptr);
  ~TvxUdevMonitor() override;

  // True when udev is there and the monitor listens.
  bool IsActive() const { return monitor_ != nullptr; }

  // (Arrived, DevNode): a tty device was added (true) or removed (false).
  std::function<void(bool arrived, const std::string& devNode)> OnPortChange;

 private:
  void Receive();

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vxcomm
