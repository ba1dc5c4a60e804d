// The signals that end a program (SIGINT, SIGTERM, SIGHUP, ...) turned into a call on the
// main thread, so that the program ends its work in order: the handler only writes the
// signal's number to a pipe, which the event loop reads.
//
// Thread: made and destroyed on the main thread; Caught runs there. The handler itself runs
// on whichever thread the signal hits.
#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

class TSignalCatcher : public QObject {
 public:
  // Catches CaughtSignals from now on: Caught(signal) runs on the main thread once the event loop
  // runs, once for each signal that arrived.
  TSignalCatcher(std::initializer_list<int> caughtSignals, std::function<void(int)> caught);
  // The signals get their default action back.
  ~TSignalCatcher() override;

 private:
  std::vector<int> signals_;
  std::function<void(int)> caught_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
