// A device that goes away under an open serial component (its pseudo-terminal master
// closed, or the socat relay behind it killed), with the events on the main thread and on
// the port thread: with ReportDeviceLoss the application hears the error and its reason
// before the close, and without it the port only closes (the reason is kept either way).
// A write that fails is reported with its reason.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serialdevice.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "support/socatpair.h"
#include "support/testui.h"

namespace {

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

class DeviceLoss : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    comm_.SetUseMainThread(GetParam());
    comm_.SetStreamProtocol(spNone);
    comm_.OnCommError = [this](TObject*, Cardinal commCode, Cardinal sysError, TComStateFlags,
                               bool&) {
      comm_error_code_ = commCode;
      comm_error_sys_ = sysError;
      reports_.Add("comm error");
    };
    comm_.OnFatalError = [this](TObject*, Cardinal code, Cardinal detail,
                                const std::string& message, bool& raise) {
      raise = false;
      fatal_code_ = code;
      fatal_detail_ = detail;
      fatal_message_ = message;
      reports_.Add("fatal error");
    };
    comm_.OnClose = [this](TObject*) { reports_.Add("close"); };
  }

  // Opens Path, lets Lose take the device away and waits for the close.
  void OpenAndLose(const std::string& path, const std::function<void()>& lose) {
    comm_.SetDeviceName(path);
    ASSERT_TRUE(comm_.TryOpen());
    lose();
    ASSERT_TRUE(WaitUntil([&] { return !comm_.Active(); }, 10000));
  }

  void ExpectReportedBeforeTheClose() {
    EXPECT_EQ(reports_.List(), (std::vector<std::string>{"comm error", "fatal error", "close"}));
    EXPECT_EQ(comm_error_code_, 0u);
    EXPECT_NE(comm_error_sys_, 0u);
    EXPECT_EQ(static_cast<int>(comm_error_sys_), comm_.FailureCode());
    EXPECT_EQ(fatal_code_, 1u);
    EXPECT_EQ(fatal_detail_, comm_error_sys_);
    EXPECT_FALSE(comm_.FailureText().empty());
    EXPECT_EQ(fatal_message_,
              "Device \"" + comm_.DeviceName() + "\" Lost !!!\r" + comm_.FailureText());
  }

  TvxTestUIServices ui_;
  Reports reports_;
  Cardinal comm_error_code_ = 99, comm_error_sys_ = 0, fatal_code_ = 0, fatal_detail_ = 0;
  std::string fatal_message_;
  TvxComm comm_;
};

TEST_P(DeviceLoss, AClosedPseudoTerminalIsReportedWithItsReasonBeforeTheClose) {
  comm_.SetReportDeviceLoss(true);
  PtyPair pty;
  OpenAndLose(pty.slavePath(), [&] { pty.CloseMaster(); });
  ExpectReportedBeforeTheClose();
}

TEST_P(DeviceLoss, AKilledRelayIsReportedWithItsReasonBeforeTheClose) {
  comm_.SetReportDeviceLoss(true);
  auto relay = std::make_unique<SocatPair>();
  OpenAndLose(relay->A(), [&] { relay.reset(); });
  ExpectReportedBeforeTheClose();
}

TEST_P(DeviceLoss, WithoutReportDeviceLossThePortOnlyClosesAndKeepsTheReason) {
  PtyPair pty;
  OpenAndLose(pty.slavePath(), [&] { pty.CloseMaster(); });
  EXPECT_EQ(reports_.List(), std::vector<std::string>{"close"});
  EXPECT_NE(comm_.FailureCode(), 0);
  EXPECT_EQ(comm_.FailureText(), std::strerror(comm_.FailureCode()));
}

TEST_P(DeviceLoss, NothingSucceedsAfterTheLoss) {
  comm_.SetReportDeviceLoss(true);
  PtyPair pty;
  OpenAndLose(pty.slavePath(), [&] { pty.CloseMaster(); });
  const std::size_t reported = reports_.List().size();
  comm_.SendString("after the loss");
  EXPECT_FALSE(comm_.WaitForInput(1, 0));
  EXPECT_EQ(reports_.List().size(), reported);  // a closed port does nothing, reports nothing
}

INSTANTIATE_TEST_SUITE_P(Roads, DeviceLoss, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "MainThread" : "PortThread";
                         });

TEST(WriteFailure, IsReportedWithItsReason) {
  PtyPair pty;
  TvxComm comm;
  comm.SetDeviceName(pty.slavePath());
  comm.SetStreamProtocol(spNone);
  Cardinal sys_error = 0;
  comm.OnCommError = [&](TObject*, Cardinal commCode, Cardinal sysError, TComStateFlags, bool&) {
    EXPECT_EQ(commCode, 0u);
    sys_error = sysError;
  };
  ASSERT_TRUE(comm.TryOpen());
  EXPECT_EQ(comm.FailureCode(), 0);
  vxSerialFaults().writeError = EIO;
  comm.SendString("lost");
  EXPECT_EQ(sys_error, static_cast<Cardinal>(EIO));
  EXPECT_EQ(comm.FailureCode(), EIO);
  EXPECT_EQ(comm.FailureText(), std::strerror(EIO));
  // The port is still there: the next write goes out.
  comm.SendString("next");
  EXPECT_EQ(pty.Read(4, 5000), "next");
}

}  // namespace
