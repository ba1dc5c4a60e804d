// Port changes after start-up: the port map in the configuration store watched for this
// program's and other programs' edits, the subscriptions of the enumeration's watch, and
// device boxes that follow mapped ports coming and going without a restart.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/ptypair.h"
#include "vxcomm/platform/configstore.h"
#include "vxcomm/platform/portmap.h"
#include "vxcomm/platform/portmapmonitor.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm.h"
#include "vxcomm/widgets/vxcommbox.h"

namespace fs = std::filesystem;

namespace {

// A store of the test's own that does not exist yet (its directory neither); set before Qt
// first reads the location.
const std::string kConfigHome = [] {
  const char* tmp = std::getenv("VXCOMM_TEST_TMP");
  std::string base = std::string(tmp ? tmp : "/tmp") + "/enum_watch_test";
  fs::remove_all(base);
  fs::create_directories(base);
  setenv("XDG_CONFIG_HOME", base.c_str(), 1);
  return base;
}();

struct MapChanges {
  void Add(const std::vector<int>& m, const std::vector<int>& u) {
    ++calls;
    mapped.insert(mapped.end(), m.begin(), m.end());
    unmapped.insert(unmapped.end(), u.begin(), u.end());
  }
  void Clear() {
    calls = 0;
    mapped.clear();
    unmapped.clear();
  }
  int calls = 0;
  std::vector<int> mapped, unmapped;
};

void Watch(TvxPortMapMonitor& monitor, MapChanges& changes) {
  monitor.OnMapChange = [&](const std::vector<int>& m, const std::vector<int>& u) {
    changes.Add(m, u);
  };
}

bool Contains(const std::vector<int>& numbers, int n) {
  return std::find(numbers.begin(), numbers.end(), n) != numbers.end();
}

}  // namespace

// First in this program: the store does not exist before it.
TEST(PortMapMonitor, SeesAStoreMadeAfterItStarted) {
  ASSERT_FALSE(fs::exists(kConfigHome + "/vxComm"));
  TvxPortMapMonitor monitor;
  MapChanges changes;
  Watch(monitor, changes);
  vxWritePortMapping(21, "/dev/ttyVX21");
  ASSERT_TRUE(WaitUntil([&] { return changes.calls > 0; }, 10000));
  EXPECT_EQ(changes.mapped, std::vector<int>{21});
  EXPECT_TRUE(changes.unmapped.empty());
  vxWritePortMapping(21, "");
  ASSERT_TRUE(WaitUntil([&] { return !changes.unmapped.empty(); }, 10000));
  EXPECT_EQ(changes.unmapped, std::vector<int>{21});
}

TEST(PortMapMonitor, ReportsOnlyChangesOfTheMap) {
  TvxPortMapMonitor monitor;
  MapChanges changes;
  Watch(monitor, changes);
  // Another value of the store is no port change; the mapping written after it is the
  // first report.
  vxWriteConfigBinary(HKEY_CURRENT_USER, "Software/vxTest", "Other", "bytes");
  vxWritePortMapping(22, "/dev/ttyVX22");
  ASSERT_TRUE(WaitUntil([&] { return changes.calls > 0; }, 10000));
  EXPECT_EQ(changes.mapped, std::vector<int>{22});
  changes.Clear();
  vxWritePortMapping(22, "/dev/ttyVX22b");  // mapped to another device
  ASSERT_TRUE(WaitUntil([&] { return changes.calls > 0; }, 10000));
  EXPECT_EQ(changes.mapped, std::vector<int>{22});
  changes.Clear();
  vxWritePortMapping(23, "/dev/ttyVX23");
  vxWritePortMapping(22, "");
  ASSERT_TRUE(WaitUntil(
      [&] { return Contains(changes.mapped, 23) && Contains(changes.unmapped, 22); }, 10000));
  vxWritePortMapping(23, "");
  ASSERT_TRUE(WaitUntil([&] { return Contains(changes.unmapped, 23); }, 10000));
  // The same map written again is no change.
  monitor.Look();
  changes.Clear();
  monitor.Look();
  EXPECT_EQ(changes.calls, 0);
}

TEST(PortChanges, SubscribersMayEndSubscriptionsFromInsideANotice) {
  std::unique_ptr<TvxPortChangeSubscription> first, second;
  std::vector<TvxDeviceChange> toFirst, toSecond;
  first = vxSubscribePortChanges([&](const TvxDeviceChange& change) {
    toFirst.push_back(change);
    second.reset();  // ends the other subscriber, not yet called for this notice
  });
  second = vxSubscribePortChanges([&](const TvxDeviceChange& c) { toSecond.push_back(c); });
  vxWritePortMapping(24, "/dev/ttyVX24");
  ASSERT_TRUE(WaitUntil([&] { return !toFirst.empty(); }, 10000));
  EXPECT_EQ(toFirst[0].event, TvxDeviceChange::Arrival);
  EXPECT_TRUE(toFirst[0].isPort);
  EXPECT_TRUE(toSecond.empty());

  // The last subscriber ends itself: the watch ends, and a new subscription starts it again.
  toFirst.clear();
  first = vxSubscribePortChanges([&](const TvxDeviceChange& change) {
    toFirst.push_back(change);
    first.reset();
  });
  vxWritePortMapping(24, "");
  ASSERT_TRUE(WaitUntil([&] { return !toFirst.empty(); }, 10000));
  EXPECT_EQ(toFirst[0].event, TvxDeviceChange::RemoveComplete);
  EXPECT_EQ(first, nullptr);
  std::vector<TvxDeviceChange> later;
  auto again = vxSubscribePortChanges([&](const TvxDeviceChange& c) { later.push_back(c); });
  vxWritePortMapping(24, "/dev/ttyVX24");
  ASSERT_TRUE(WaitUntil([&] { return !later.empty(); }, 10000));
  EXPECT_EQ(toFirst.size(), 1u);
  vxWritePortMapping(24, "");
}

namespace {
QString Mapped(int number, const std::string& path) {
  return QString::fromStdString("COM" + std::to_string(number) + " (mapped to " + path + ")");
}
}  // namespace

TEST(PortChanges, DeviceBoxesFollowMappingsWithoutARestart) {
  PtyPair pty;
  TvxComm comm;
  comm.SetEnumPorts(epFullPresent);
  TvxDeviceBox box, other;
  box.SetvxComm(&comm);
  other.SetvxComm(&comm);
  EXPECT_EQ(box.findText(Mapped(25, pty.slavePath())), -1);
  vxWritePortMapping(25, pty.slavePath());
  ASSERT_TRUE(WaitUntil([&] { return box.findText(Mapped(25, pty.slavePath())) >= 0; }, 10000));
  EXPECT_GE(other.findText(Mapped(25, pty.slavePath())), 0);
  vxWritePortMapping(25, "");
  ASSERT_TRUE(WaitUntil([&] { return box.findText(Mapped(25, pty.slavePath())) < 0; }, 10000));
  EXPECT_EQ(other.findText(Mapped(25, pty.slavePath())), -1);
}

TEST(PortChanges, APortPairMadeByAnotherProgramAppearsAndGoes) {
  if (QProcess::execute("socat", {"-V"}) != 0) GTEST_SKIP() << "no socat here";
  TvxComm comm;
  comm.SetEnumPorts(epFullPresent);
  TvxDeviceBox box;
  box.SetvxComm(&comm);
  auto listed = [&](int number) {
    for (int i = 0; i < box.count(); ++i)
      if (box.itemText(i).startsWith(QString("COM%1 (mapped to ").arg(number))) return true;
    return false;
  };
  QProcess pair;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(kConfigHome));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(MakeTempDir("enum-watch-run")));
  pair.setProcessEnvironment(env);
  pair.start(QString(VXCOMM_SOURCE_DIR) + "/scripts/virtual-port-pair", {"-n", "57"});
  ASSERT_TRUE(pair.waitForStarted(5000));
  EXPECT_TRUE(WaitUntil([&] { return listed(57) && listed(58); }, 20000))
      << pair.readAllStandardError().toStdString();
  pair.terminate();  // its own clean-up unmaps the pair
  ASSERT_TRUE(pair.waitForFinished(10000));
  EXPECT_TRUE(WaitUntil([&] { return !listed(57) && !listed(58); }, 20000));
}
