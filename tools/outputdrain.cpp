#include "outputdrain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "vxcomm.h"

void DrainOutput(TvxComm& comm, int limitMs) {
  QElapsedTimer draining;
  draining.start();
  while (comm.Active() && comm.OutQueueCount() > 0 && draining.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}
