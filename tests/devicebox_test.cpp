// The device selection box over a component whose list comes from the real enumeration
// (on fixture sources), driven with QTest: linking, picking, following the port number,
// re-linking and destruction in either order, and the hot-plug route.
#include <gtest/gtest.h>

#include <QTest>
#include <fstream>
#include <memory>

#include "support/ptypair.h"
#include "vxcomm/platform/udevmonitor.h"
#include "vxcomm/unqualified.h"
#include "vxcomm/vxcomm/enumdevices.h"
#include "vxcomm/widgets/vxcommbox.h"

namespace {

class FixtureDatabase : public TvxPortDatabase {
 public:
  std::vector<TvxSerialCommValue> SerialCommValues() override { return values; }
  void EnumClassDevices(bool, TvxDeviceRecords& records) override {
    for (const auto& [name, description] : records_)
      records.push_back(std::make_unique<TvxDevice>(Record(name, description)));
  }
  static TvxDevice Record(const std::string& name, const std::string& description) {
    TvxDevice d;
    d.PortName = name;
    d.Description = description;
    return d;
  }
  std::vector<TvxSerialCommValue> values;
  std::vector<std::pair<std::string, std::string>> records_;
};

// A component with the serial component's selection rules: the current device is the one
// numbered PortNo, selecting sets the number, and every number change notifies.
class ListedPorts : public TvxBaseIO {
 public:
  explicit ListedPorts(QObject* owner = nullptr) : TvxBaseIO(owner) {
    db.values = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyS2", "COM3"}, {"/dev/ttyS4", "COM5"}};
    db.records_ = {{"COM1", "Communications Port"},
                   {"COM3", "Communications Port"},
                   {"COM5", "Communications Port"},
                   {"ttyUSB0", "CH340 serial converter"}};
  }
  ~ListedPorts() override { Destroying(); }
  void EnumDevices() override {
    ++enumerations;
    vxEnumSerialDevicesFrom(*this, epFullPresent, db);
  }
  int GetDeviceIndex() override { return IndexOfDevice(port); }
  void SelectDevice(int index) override {
    if (TvxDevice* d = GetDevice(index)) SetPortNo(d->PortNumber);
  }
  void RefreshDevices() override {
    ++refreshes;
    ClearDevices();
    GetDeviceList(nullptr);
    TvxBaseIO::RefreshDevices();
  }
  void SetPortNo(int n) {
    port = n;
    Notify(3);
  }
  FixtureDatabase db;
  int port = 1;
  int enumerations = 0;
  int refreshes = 0;
};

std::vector<std::string> Items(const QComboBox& box) {
  std::vector<std::string> items;
  for (int i = 0; i < box.count(); ++i) items.push_back(box.itemText(i).toStdString());
  return items;
}

const std::vector<std::string> kPorts = {"COM1 (Communications Port)", "COM3 (Communications Port)",
                                         "COM5 (Communications Port)",
                                         "ttyUSB0 (CH340 serial converter)"};

}  // namespace

TEST(DeviceBox, IsADropDownListThatLinkingFillsWithOneEnumeration) {
  ListedPorts io;
  TvxDeviceBox box1, box2;
  EXPECT_FALSE(box1.isEditable());
  EXPECT_FALSE(box1.ResetOnChanged());
  box1.SetvxComm(&io);
  EXPECT_EQ(io.enumerations, 1);
  EXPECT_EQ(Items(box1), kPorts);
  EXPECT_EQ(box1.currentIndex(), 0);
  EXPECT_EQ(box1.vxComm(), &io);
  io.port = 5;  // no notice: the second box reads the current device when linked
  box2.SetvxComm(&io);
  EXPECT_EQ(io.enumerations, 1);  // the list is there: reused
  EXPECT_EQ(box2.currentIndex(), 2);
  EXPECT_EQ(io.NotifyList().Count(), 2);
  box2.SetvxComm(&io);  // linking again registers nothing twice
  EXPECT_EQ(io.NotifyList().Count(), 2);
}

TEST(DeviceBox, PickingAnEntrySelectsTheDeviceAndKeepsTheSelection) {
  ListedPorts io;
  TvxDeviceBox box, watcher;
  box.SetvxComm(&io);
  watcher.SetvxComm(&io);
  std::vector<int> changes;  // the selection each OnChange sees
  box.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &box);
    EXPECT_EQ(box.count(), 4);  // refilled before OnChange
    changes.push_back(box.currentIndex());
  };
  box.show();
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Down);
  QTest::keyClick(&box, Qt::Key_Down);  // the third entry
  EXPECT_EQ(io.port, 5);
  EXPECT_EQ(box.currentIndex(), 2);
  EXPECT_EQ(watcher.currentIndex(), 2);
  EXPECT_EQ(changes, (std::vector<int>{1, 2}));
  QTest::keyClick(&box, Qt::Key_Down);
  EXPECT_EQ(io.port, 4097);
  EXPECT_EQ(box.currentText(), "ttyUSB0 (CH340 serial converter)");
}

TEST(DeviceBox, FollowsThePortNumberSetInCode) {
  ListedPorts io;
  TvxDeviceBox box;
  box.SetvxComm(&io);
  io.SetPortNo(3);
  EXPECT_EQ(box.currentIndex(), 1);
  io.SetPortNo(12);  // not listed
  EXPECT_EQ(box.currentIndex(), -1);
  EXPECT_EQ(box.count(), 4);
  io.Notify(1);  // closed and opened notices change nothing
  io.Notify(2);
  EXPECT_EQ(box.currentIndex(), -1);
  EXPECT_EQ(io.enumerations, 1);
}

TEST(DeviceBox, RelinkingAndDestroyingInEitherOrderLeaveNoCalls) {
  auto a = std::make_unique<ListedPorts>();
  auto b = std::make_unique<ListedPorts>();
  b->db.values = {{"/dev/ttyS7", "COM8"}};
  b->db.records_ = {{"COM8", "Communications Port"}};
  b->port = 8;
  auto box = std::make_unique<TvxDeviceBox>();
  box->SetvxComm(a.get());
  box->SetvxComm(b.get());
  EXPECT_EQ(a->NotifyList().Count(), 0);
  a->SetPortNo(3);
  EXPECT_EQ(Items(*box), std::vector<std::string>{"COM8 (Communications Port)"});
  EXPECT_EQ(box->currentIndex(), 0);
  box.reset();  // the box goes first
  EXPECT_EQ(b->NotifyList().Count(), 0);
  a->SetPortNo(5);
  b->SetPortNo(1);
  a.reset();
  b.reset();

  auto io = std::make_unique<ListedPorts>();
  box = std::make_unique<TvxDeviceBox>();
  box->SetvxComm(io.get());
  io->SetPortNo(3);
  io.reset();  // the component goes first: the box drops it and keeps its items
  EXPECT_EQ(box->vxComm(), nullptr);
  EXPECT_EQ(box->currentIndex(), -1);
  EXPECT_EQ(Items(*box), kPorts);
  int changes = 0;
  box->OnChange = [&](TObject*) { ++changes; };
  box->show();
  box->setFocus();
  QTest::keyClick(box.get(), Qt::Key_Down);  // a pick with no link does nothing
  EXPECT_EQ(changes, 0);
  EXPECT_FALSE(box->DeviceChangeMessage({TvxDeviceChange::NodesChanged, false}));
  box.reset();
}

TEST(DeviceBox, UnlinkingClearsTheItemsAndTheHandler) {
  ListedPorts io;
  TvxDeviceBox box;
  box.SetvxComm(&io);
  box.SetvxComm(nullptr);
  EXPECT_EQ(box.count(), 0);
  EXPECT_EQ(io.NotifyList().Count(), 0);
  io.SetPortNo(3);
  EXPECT_EQ(box.count(), 0);
}

TEST(DeviceBox, DeviceChangesRefreshEveryLinkedComponentOnce) {
  ListedPorts a, b;
  TvxDeviceBox a1, a2, b1;
  a1.SetvxComm(&a);
  a2.SetvxComm(&a);
  b1.SetvxComm(&b);
  a.db.records_.push_back({"ttyACM0", "Arduino Uno"});  // plugged in
  TvxDeviceBox::BroadcastDeviceChange({TvxDeviceChange::Arrival, true});
  EXPECT_EQ(a.refreshes, 1);
  EXPECT_EQ(b.refreshes, 1);
  EXPECT_EQ(a1.count(), 5);
  EXPECT_EQ(a2.itemText(4), "ttyACM0 (Arduino Uno)");
  EXPECT_EQ(a1.currentIndex(), 0);  // COM1 stays selected
  TvxDeviceBox::BroadcastDeviceChange({TvxDeviceChange::Other, true});
  TvxDeviceBox::BroadcastDeviceChange({TvxDeviceChange::Arrival, false});
  EXPECT_EQ(a.refreshes, 1);
  EXPECT_TRUE(b1.DeviceChangeMessage({TvxDeviceChange::RemoveComplete, true}));
  EXPECT_EQ(b.refreshes, 2);
  EXPECT_EQ(a.refreshes, 1);
}

TEST(DeviceBox, AKernelPortEventRefreshesTheLinkedBoxes) {
  if (!TvxUdevMonitor().IsActive()) GTEST_SKIP() << "libudev is not on this machine";
  // Asking the kernel to repeat a port's "add" event is the one plug-in a test can make.
  std::ofstream trigger("/sys/class/tty/ttyS0/uevent");
  if (!trigger) GTEST_SKIP() << "no ttyS0 whose event this test may repeat";
  ListedPorts io;
  TvxDeviceBox box;
  box.SetvxComm(&io);  // the first linked box starts the monitor
  io.db.records_.push_back({"ttyACM0", "Arduino Uno"});
  trigger << "add" << std::flush;
  if (!WaitUntil([&] { return io.refreshes > 0; }, 2000))
    GTEST_SKIP() << "this machine does not deliver kernel events here";
  EXPECT_EQ(box.itemText(box.count() - 1), "ttyACM0 (Arduino Uno)");
}
