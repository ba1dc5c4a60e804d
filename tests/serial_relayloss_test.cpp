// A socat relay killed under an open serial component, with the events on the main thread
// and on the port thread: with ReportDeviceLoss the error and its reason come before the
// close. (A test of its own: starting socat forks, which ThreadSanitizer cannot follow.)
#include <gtest/gtest.h>

#include <memory>

#include "support/lossfixture.h"
#include "support/socatpair.h"

namespace {

using DeviceLoss = DeviceLossFixture;

TEST_P(DeviceLoss, AKilledRelayIsReportedWithItsReasonBeforeTheClose) {
  comm_.SetReportDeviceLoss(true);
  auto relay = std::make_unique<SocatPair>();
  OpenAndLose(relay->A(), [&] { relay.reset(); });
  ExpectReportedBeforeTheClose();
}

INSTANTIATE_TEST_SUITE_P(Roads, DeviceLoss, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "MainThread" : "PortThread";
                         });

}  // namespace
