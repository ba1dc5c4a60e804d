#include "vxcomm/vxcomm/commthreads.h"

#include <poll.h>
#include <QCoreApplication>
#include <cerrno>

#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/vxcomm.h"

namespace vxcomm {

namespace {
thread_local TThread* current_port_thread = nullptr;
}  // namespace

TThread* vxCurrentPortThread() {
  return current_port_thread;
}

void TCommThread::Stop() {
  Terminate();
  device_.Wake();
}

void TCommThread::DeviceFailed() {
  // The close runs where the component lives: on the main thread when there is one, so
  // that OnClose and the notify handlers never meet the main thread's own calls.
  auto close = [this] {
    if (!Terminated()) comm_->CloseOnDeviceFailure();
  };
  if (QCoreApplication::instance())
    Synchronize(close);
  else
    close();
}

void TCommThread::Execute() {
  current_port_thread = this;
  const TvxEventFds fds = device_.EventFds();
  while (!Terminated()) {
    // Input is watched while the device has room for it; a hang-up shows either way.
    const short input = fds.input >= 0 && device_.WatchInput() ? POLLIN : 0;
    struct pollfd p[2] = {{fds.input, input, 0}, {fds.wake, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
    if (Terminated()) break;
    if (!comm_->ProcessCommEvent()) {
      DeviceFailed();
      break;
    }
  }
}

}  // namespace vxcomm
