// The device box over the real serial component: its list comes from this machine and the
// port map, and follows ports that come and go.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>

#include "support/ptypair.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/widgets/vxcommbox.h"

namespace {

const bool kOwnStore = [] {
  const char* tmp = std::getenv("VXCOMM_TEST_TMP");
  std::string dir = std::string(tmp ? tmp : "/tmp") + "/devicebox_comm_test-config";
  std::filesystem::create_directories(dir);
  return setenv("XDG_CONFIG_HOME", dir.c_str(), 1) == 0;
}();

int IndexOf(const TvxDeviceBox& box, const QString& text) {
  return box.findText(text);
}

}  // namespace

TEST(DeviceBoxOverTheSerialComponent, ListsMappedPortsAndFollowsThemComingAndGoing) {
  PtyPair first, second;
  vxWritePortMapping(5, first.slavePath());
  const QString com5 = QString::fromStdString("COM5 (mapped to " + first.slavePath() + ")");
  const QString com6 = QString::fromStdString("COM6 (mapped to " + second.slavePath() + ")");
  auto comm = std::make_unique<TvxComm>();
  comm->SetEnumPorts(epFullPresent);
  TvxDeviceBox box;
  box.SetvxComm(comm.get());
  ASSERT_GE(IndexOf(box, com5), 0);
  EXPECT_EQ(IndexOf(box, com6), -1);

  box.show();
  box.setFocus();
  while (box.currentIndex() < IndexOf(box, com5)) QTest::keyClick(&box, Qt::Key_Down);
  EXPECT_EQ(comm->ComPortNo(), 5);
  EXPECT_EQ(box.currentText(), com5);
  EXPECT_EQ(comm->GetDeviceName(), "COM5");

  vxWritePortMapping(6, second.slavePath());  // plugged in
  TvxDeviceBox::BroadcastDeviceChange({TvxDeviceChange::Arrival, true});
  EXPECT_GE(IndexOf(box, com6), 0);
  EXPECT_EQ(box.currentText(), com5);
  vxWritePortMapping(6, "");  // and out again
  TvxDeviceBox::BroadcastDeviceChange({TvxDeviceChange::RemoveComplete, true});
  EXPECT_EQ(IndexOf(box, com6), -1);
  comm->SetComPortNo(6);
  EXPECT_EQ(box.currentIndex(), -1);

  comm.reset();  // the component goes first
  EXPECT_EQ(box.vxComm(), nullptr);
  EXPECT_GE(IndexOf(box, com5), 0);
  vxWritePortMapping(5, "");
}
