#include "peerquiet.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

void WaitUntilPeerQuiet(TvxComm& comm, int quietMs, int limitMs) {
  QElapsedTimer quiet;
  quiet.start();
  const auto previous = comm.OnAfterReceive;
  comm.OnAfterReceive = [&](TObject* sender, const void* data, Cardinal len) {
    quiet.restart();
    if (previous) previous(sender, data, len);
  };
  QElapsedTimer waiting;
  waiting.start();
  while (comm.Active() && (comm.OutQueueCount() > 0 || quiet.elapsed() < quietMs) &&
         waiting.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  comm.OnAfterReceive = previous;
}
