// Shared pieces of the serial component's tests: a private configuration store, a COM
// number mapped to a device path, an open that reports its refusal, and a recorder of
// notify codes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

// Points the configuration store at a fresh directory (once per test program).
void UsePrivateConfigStore();
// Maps COM<Number> to Path and returns Number.
int MapPort(int number, const std::string& path);

// Sets Comm active: the message of the exception that refused it, or "(no exception)".
std::string OpenErrorOf(TvxComm& comm);

// Collects the notify codes an I/O component sends.
struct TvxNotifyRecorder {
  void Notified(TvxBaseIO*, int code) {
    std::lock_guard lock(mutex);
    codes.push_back(code);
  }
  TvxIONotifyEvent Handler() { return TvxIONotifyEvent::Of<&TvxNotifyRecorder::Notified>(this); }
  std::vector<int> Codes() {
    std::lock_guard lock(mutex);
    return codes;
  }
  std::mutex mutex;
  std::vector<int> codes;
};
