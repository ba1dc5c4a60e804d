// A device that goes away under an open serial component (its pseudo-terminal master
// closed; serial_relayloss_test kills a socat relay instead), with the events on the main thread
// and on the port thread: with ReportDeviceLoss the application hears the error and its reason
// before the close, and without it the port only closes (the reason is kept either way).
// A write that fails is reported with its reason.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/lossfixture.h"
#include "support/ptypair.h"
#include "support/serialfixture.h"
#include "vxcomm/platform/serialdevice.h"
#include "vxcomm/platform/serialfaults.h"
#include "vxcomm/unqualified.h"

namespace {

using DeviceLoss = DeviceLossFixture;

TEST_P(DeviceLoss, AClosedPseudoTerminalIsReportedWithItsReasonBeforeTheClose) {
  comm_.SetReportDeviceLoss(true);
  PtyPair pty;
  OpenAndLose(pty.slavePath(), [&] { pty.CloseMaster(); });
  ExpectReportedBeforeTheClose();
}

TEST_P(DeviceLoss, WithoutReportDeviceLossThePortOnlyClosesAndKeepsTheReason) {
  PtyPair pty;
  OpenAndLose(pty.slavePath(), [&] { pty.CloseMaster(); });
  EXPECT_EQ(reports_.List(), std::vector<std::string>{"close"});
  EXPECT_TRUE(lost_at_close_);
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

TEST_P(DeviceLoss, DeviceLostTellsALossFromACloseAndEndsWithTheNextOpen) {
  PtyPair first;
  comm_.SetDeviceName(first.slavePath());
  ASSERT_TRUE(comm_.TryOpen());
  comm_.Close();
  EXPECT_FALSE(lost_at_close_);
  EXPECT_FALSE(comm_.DeviceLost());
  OpenAndLose(first.slavePath(), [&] { first.CloseMaster(); });
  EXPECT_TRUE(comm_.DeviceLost());
  PtyPair second;
  comm_.SetDeviceName(second.slavePath());
  ASSERT_TRUE(comm_.TryOpen());
  EXPECT_FALSE(comm_.DeviceLost());
  comm_.Close();
  EXPECT_FALSE(lost_at_close_);
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
  EXPECT_FALSE(comm.DeviceLost());
}

TEST(WriteFailure, AQueuedBlockCutByItsDeadlineIsReportedWithItsReason) {
  PtyPair pty;  // nobody reads the far end: the line fills and the block waits in the queue
  TvxComm comm;
  comm.SetDeviceName(pty.slavePath());
  comm.SetStreamProtocol(spNone);
  comm.SetUseMainThread(true);
  TCOMMTIMEOUTS timeouts = comm.GetTimeouts();
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 100;
  comm.SetTimeouts(timeouts);
  Cardinal line_errors = 0;
  std::string reason_then;
  comm.OnCommError = [&](TObject*, Cardinal commCode, Cardinal, TComStateFlags, bool&) {
    line_errors |= commCode;
    reason_then = comm.FailureText();
  };
  ASSERT_TRUE(comm.TryOpen());
  const std::string block(1 << 20, 'x');
  comm.SendData(block.data(), static_cast<Cardinal>(block.size()));
  ASSERT_TRUE(WaitUntil([&] { return (line_errors & CE_TXFULL) != 0; }, 10000));
  EXPECT_EQ(comm.FailureCode(), ETIMEDOUT);
  EXPECT_EQ(reason_then, std::strerror(ETIMEDOUT));
  EXPECT_TRUE(comm.Active());
  EXPECT_FALSE(comm.DeviceLost());
}

}  // namespace
