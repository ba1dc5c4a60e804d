// The fixture of the device-loss tests: a serial component, on the main thread or on the
// port thread (the parameter: true for the main thread), that records in order what it
// reports when its device goes away.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/testui.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"

// The reports in the order they came, from whichever thread made them.
struct Reports {
  void Add(const std::string& what) {
    std::lock_guard lock(mutex);
    list.push_back(what);
  }
  std::vector<std::string> List() {
    std::lock_guard lock(mutex);
    return list;
  }
  std::mutex mutex;
  std::vector<std::string> list;
};

class DeviceLossFixture : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override;
  // Opens Path, lets Lose take the device away and waits for the close.
  void OpenAndLose(const std::string& path, const std::function<void()>& lose);
  // The error with its reason came first, then the fatal error, then the close.
  void ExpectReportedBeforeTheClose();

  TvxTestUIServices ui_;
  Reports reports_;
  Cardinal comm_error_code_ = 99, comm_error_sys_ = 0, fatal_code_ = 0, fatal_detail_ = 0;
  std::string fatal_message_;
  bool lost_at_fatal_ = false, lost_at_close_ = false;  // DeviceLost() in those events
  TvxComm comm_;
};
