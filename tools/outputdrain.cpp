#include "outputdrain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

#include "vxcomm.h"

namespace {

// Processes events, 1 ms apart, while Busy holds, Comm is open and LimitMs have not passed.
void ProcessWhile(TvxComm& comm, int limitMs, const std::function<bool()>& busy) {
  QElapsedTimer draining;
  draining.start();
  while (comm.Active() && busy() && draining.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

}  // namespace

void DrainOutput(TvxComm& comm, int limitMs) {
  ProcessWhile(comm, limitMs, [&] { return comm.OutQueueCount() > 0; });
}

void DrainUntilQuiet(TvxComm& comm, int quietMs, int limitMs) {
  QElapsedTimer quiet;
  quiet.start();
  const auto previous = comm.OnAfterReceive;
  comm.OnAfterReceive = [&](TObject* sender, const void* data, Cardinal len) {
    quiet.restart();
    if (previous) previous(sender, data, len);
  };
  ProcessWhile(comm, limitMs,
               [&] { return comm.OutQueueCount() > 0 || quiet.elapsed() < quietMs; });
  comm.OnAfterReceive = previous;
}
